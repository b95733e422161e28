/*
 * flags.h - the flag word and its text form: IMAP system flags and mailbox
 * attributes (RFC 3501 section 2.3.2 and the LIST name attributes of
 * section 7.2.2) as IMAP_FLAG_ bits, parsed from and formatted into
 * parenthesized flag lists.
 *
 * A pure codec: nothing here touches a session, sends anything or sets the
 * last error, so it can be exercised with plain strings.
 */
#ifndef TW_MESSAGE_FLAGS_H
#define TW_MESSAGE_FLAGS_H

#include "platform/platform.h"
#include "twmapav9.h"

/* The output buffer of FormatFlagList, terminator included. */
#define FLAGLIST_BUFFER_SIZE 128

/* Number of named bits in FLAGNAMES, the empty end entry not counted. */
#define FLAGNAMES_COUNT 10

/* One named bit: its IMAP_FLAG_ value and its IMAP name, upper case and
   without the backslash. */
struct FLAGNAME {
    DWORD dwFlag;
    LPCSTR lpszName;
};

/*
 * The named bits in a fixed order: ANSWERED, DRAFT, FLAGGED (IMAP_FLAG_URGENT),
 * SEEN, RECENT, DELETED, NOINFERIORS, NOSELECT, MARKED, UNMARKED, then an
 * empty entry (bit 0, name NULL). The parser tries the names in this order
 * and the formatter writes them in it.
 */
extern const FLAGNAME FLAGNAMES[FLAGNAMES_COUNT + 1];

/*
 * The flag word of the first parenthesized list in lpszText: the OR of the
 * named system flags it holds, compared without regard to case and as a
 * prefix of the flag (so "\Seenly" counts as \Seen). Unknown system flags
 * (\*, \HasChildren, ...) and keywords are ignored. The scan ends at the
 * list's closing parenthesis, or at the end of the text when the list is
 * not closed; nothing after the list is read. Returns 0 when lpszText is
 * NULL or holds no "(". Never fails, never reads past the terminator, never
 * blocks.
 */
DWORD ParseFlagList(LPCSTR lpszText);

/*
 * Writes the flag list of every named bit set in dwFlags into lpBuffer
 * (FLAGLIST_BUFFER_SIZE bytes), e.g. "(\SEEN \DELETED)" for 520 or "()" for
 * 0, and returns its length. Bits without a name are left out. Returns 0
 * when lpBuffer is NULL or the text would not fit. Never blocks.
 */
int FormatFlagList(DWORD dwFlags, LPSTR lpBuffer);

#endif
