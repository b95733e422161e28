// Binary layout of the public records and the bit constants of twmapav9.h.
//
// Applications written for the 32-bit DLL fill and read these records by
// offset, so on 32-bit targets every record must keep its layout exactly
// (the header also checks this at compile time). On 64-bit targets the
// fields that carry an address are pointer-sized; everything in front of
// them keeps its 32-bit offset and the UTF-16 records mirror the 8-bit ones
// field for field, which the W functions rely on when they copy between
// the two forms.

#include "twmapav9.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace {

constexpr bool kPointer32 = sizeof(void *) == 4;

struct FieldRow {
    const char *record;
    const char *field;
    size_t offset;
    size_t size;
    size_t offset32;    // where pointers are 32 bits wide
    size_t offset64;    // where pointers are 64 bits wide
    size_t size32;
    size_t size64;
};

#define FIELD(rec, fld, off32, off64, sz32, sz64) \
    { #rec, #fld, offsetof(rec, fld), sizeof(((rec *)nullptr)->fld), off32, off64, sz32, sz64 }

const FieldRow kFields[] = {
    // INITDATA: 156 bytes; dwReserved2 returns an address.
    FIELD(INITDATA, dwSize,             0,   0,   4,   4),
    FIELD(INITDATA, dwVersionMajor,     4,   4,   4,   4),
    FIELD(INITDATA, dwVersionMinor,     8,   8,   4,   4),
    FIELD(INITDATA, dwVersionBuild,    12,  12,   4,   4),
    FIELD(INITDATA, dwOptions,         16,  16,   4,   4),
    FIELD(INITDATA, dwReserved1,       20,  20,   4,   4),
    FIELD(INITDATA, dwReserved2,       24,  24,   4,   8),
    FIELD(INITDATA, szDescription,     28,  32, 128, 128),
    FIELD(INITDATAW, dwSize,            0,   0,   4,   4),
    FIELD(INITDATAW, dwOptions,        16,  16,   4,   4),
    FIELD(INITDATAW, dwReserved1,      20,  20,   4,   4),
    FIELD(INITDATAW, dwReserved2,      24,  24,   4,   8),
    FIELD(INITDATAW, szDescription,    28,  32, 256, 256),

    // INTERNET_ADDRESS: 20 bytes on every target.
    FIELD(INTERNET_ADDRESS, ipFamily,   0,   0,   4,   4),
    FIELD(INTERNET_ADDRESS, ipNumber,   4,   4,  16,  16),

    // IMAPTRANSFERSTATUS: 24 bytes on every target.
    FIELD(IMAPTRANSFERSTATUS, nMessageId,        0,  0, 4, 4),
    FIELD(IMAPTRANSFERSTATUS, dwBytesTotal,      4,  4, 4, 4),
    FIELD(IMAPTRANSFERSTATUS, dwBytesCopied,     8,  8, 4, 4),
    FIELD(IMAPTRANSFERSTATUS, dwBytesPerSecond, 12, 12, 4, 4),
    FIELD(IMAPTRANSFERSTATUS, dwTimeElapsed,    16, 16, 4, 4),
    FIELD(IMAPTRANSFERSTATUS, dwTimeEstimated,  20, 20, 4, 4),

    // SECURITYCREDENTIALS: 40 bytes; six string pointers.
    FIELD(SECURITYCREDENTIALS, dwSize,         0,  0, 4, 4),
    FIELD(SECURITYCREDENTIALS, dwProtocol,     4,  4, 4, 4),
    FIELD(SECURITYCREDENTIALS, dwOptions,      8,  8, 4, 4),
    FIELD(SECURITYCREDENTIALS, dwReserved,    12, 12, 4, 4),
    FIELD(SECURITYCREDENTIALS, lpszHostName,  16, 16, 4, 8),
    FIELD(SECURITYCREDENTIALS, lpszUserName,  20, 24, 4, 8),
    FIELD(SECURITYCREDENTIALS, lpszPassword,  24, 32, 4, 8),
    FIELD(SECURITYCREDENTIALS, lpszCertStore, 28, 40, 4, 8),
    FIELD(SECURITYCREDENTIALS, lpszCertName,  32, 48, 4, 8),
    FIELD(SECURITYCREDENTIALS, lpszKeyFile,   36, 56, 4, 8),
    FIELD(SECURITYCREDENTIALSW, dwSize,         0,  0, 4, 4),
    FIELD(SECURITYCREDENTIALSW, dwProtocol,     4,  4, 4, 4),
    FIELD(SECURITYCREDENTIALSW, dwOptions,      8,  8, 4, 4),
    FIELD(SECURITYCREDENTIALSW, dwReserved,    12, 12, 4, 4),
    FIELD(SECURITYCREDENTIALSW, lpszHostName,  16, 16, 4, 8),
    FIELD(SECURITYCREDENTIALSW, lpszUserName,  20, 24, 4, 8),
    FIELD(SECURITYCREDENTIALSW, lpszPassword,  24, 32, 4, 8),
    FIELD(SECURITYCREDENTIALSW, lpszCertStore, 28, 40, 4, 8),
    FIELD(SECURITYCREDENTIALSW, lpszCertName,  32, 48, 4, 8),
    FIELD(SECURITYCREDENTIALSW, lpszKeyFile,   36, 56, 4, 8),

    // SECURITYINFO: 76 bytes; three string pointers after the two times.
    FIELD(SECURITYINFO, dwSize,            0,  0,  4,  4),
    FIELD(SECURITYINFO, dwProtocol,        4,  4,  4,  4),
    FIELD(SECURITYINFO, dwCipher,          8,  8,  4,  4),
    FIELD(SECURITYINFO, dwCipherStrength, 12, 12,  4,  4),
    FIELD(SECURITYINFO, dwHash,           16, 16,  4,  4),
    FIELD(SECURITYINFO, dwHashStrength,   20, 20,  4,  4),
    FIELD(SECURITYINFO, dwKeyExchange,    24, 24,  4,  4),
    FIELD(SECURITYINFO, dwCertStatus,     28, 28,  4,  4),
    FIELD(SECURITYINFO, stCertIssued,     32, 32, 16, 16),
    FIELD(SECURITYINFO, stCertExpires,    48, 48, 16, 16),
    FIELD(SECURITYINFO, lpszCertIssuer,   64, 64,  4,  8),
    FIELD(SECURITYINFO, lpszCertSubject,  68, 72,  4,  8),
    FIELD(SECURITYINFO, lpszFingerprint,  72, 80,  4,  8),
    FIELD(SECURITYINFOW, dwSize,            0,  0,  4,  4),
    FIELD(SECURITYINFOW, dwProtocol,        4,  4,  4,  4),
    FIELD(SECURITYINFOW, dwCertStatus,     28, 28,  4,  4),
    FIELD(SECURITYINFOW, stCertIssued,     32, 32, 16, 16),
    FIELD(SECURITYINFOW, stCertExpires,    48, 48, 16, 16),
    FIELD(SECURITYINFOW, lpszCertIssuer,   64, 64,  4,  8),
    FIELD(SECURITYINFOW, lpszCertSubject,  68, 72,  4,  8),
    FIELD(SECURITYINFOW, lpszFingerprint,  72, 80,  4,  8),

    // IMAPMAILBOX: ten 32-bit fields, 40 bytes on every target.
    FIELD(IMAPMAILBOX, nMessages,         0,  0, 4, 4),
    FIELD(IMAPMAILBOX, nRecentMessages,   4,  4, 4, 4),
    FIELD(IMAPMAILBOX, nUnseenMessageId,  8,  8, 4, 4),
    FIELD(IMAPMAILBOX, dwMailboxUID,     12, 12, 4, 4),
    FIELD(IMAPMAILBOX, dwNextMessageUID, 16, 16, 4, 4),
    FIELD(IMAPMAILBOX, dwFlags,          20, 20, 4, 4),
    FIELD(IMAPMAILBOX, dwPermanentFlags, 24, 24, 4, 4),
    FIELD(IMAPMAILBOX, dwAccessMode,     28, 28, 4, 4),
    FIELD(IMAPMAILBOX, dwReserved1,      32, 32, 4, 4),
    FIELD(IMAPMAILBOX, dwReserved2,      36, 36, 4, 4),

    // IMAPMAILBOXSTATUS: six 32-bit fields, 24 bytes on every target.
    FIELD(IMAPMAILBOXSTATUS, nMessages,         0,  0, 4, 4),
    FIELD(IMAPMAILBOXSTATUS, nRecentMessages,   4,  4, 4, 4),
    FIELD(IMAPMAILBOXSTATUS, nUnseenMessages,   8,  8, 4, 4),
    FIELD(IMAPMAILBOXSTATUS, dwMailboxUID,     12, 12, 4, 4),
    FIELD(IMAPMAILBOXSTATUS, dwNextMessageUID, 16, 16, 4, 4),
    FIELD(IMAPMAILBOXSTATUS, dwReserved,       20, 20, 4, 4),

    // IMAPMESSAGE: 24 bytes on every target.
    FIELD(IMAPMESSAGE, nMessageId,    0,  0, 4, 4),
    FIELD(IMAPMESSAGE, dwMessageUID,  4,  4, 4, 4),
    FIELD(IMAPMESSAGE, dwSize,        8,  8, 4, 4),
    FIELD(IMAPMESSAGE, dwFlags,      12, 12, 4, 4),
    FIELD(IMAPMESSAGE, dwTimestamp,  16, 16, 4, 4),
    FIELD(IMAPMESSAGE, dwReserved,   20, 20, 4, 4),
};

#undef FIELD

struct SizeRow {
    const char *record;
    size_t size;
    size_t size32;
    size_t size64;
};

#define RECORD(rec, sz32, sz64) { #rec, sizeof(rec), sz32, sz64 }

const SizeRow kSizes[] = {
    RECORD(INITDATA,             156, 160),
    RECORD(INITDATAW,            284, 288),
    RECORD(INTERNET_ADDRESS,      20,  20),
    RECORD(IMAPTRANSFERSTATUS,    24,  24),
    RECORD(SECURITYCREDENTIALS,   40,  64),
    RECORD(SECURITYCREDENTIALSW,  40,  64),
    RECORD(SECURITYINFO,          76,  88),
    RECORD(SECURITYINFOW,         76,  88),
    RECORD(IMAPMAILBOX,           40,  40),
    RECORD(IMAPMAILBOXSTATUS,     24,  24),
    RECORD(IMAPMESSAGE,           24,  24),
    RECORD(HCLIENT,                4,   4),
    RECORD(WCHAR,                  2,   2),
    RECORD(SYSTEMTIME,            16,  16),
};

#undef RECORD

TEST(HeaderLayout, FieldOffsetsAndSizes)
{
    for (const FieldRow &row : kFields) {
        size_t wantOffset = kPointer32 ? row.offset32 : row.offset64;
        size_t wantSize = kPointer32 ? row.size32 : row.size64;
        EXPECT_EQ(row.offset, wantOffset) << row.record << "." << row.field << " offset";
        EXPECT_EQ(row.size, wantSize) << row.record << "." << row.field << " size";
    }
}

TEST(HeaderLayout, RecordSizes)
{
    for (const SizeRow &row : kSizes) {
        size_t want = kPointer32 ? row.size32 : row.size64;
        EXPECT_EQ(row.size, want) << "sizeof " << row.record;
    }
}

// Flags that share one argument must not overlap, and each named flag is a
// single bit where the library tests it as one.

bool IsSingleBit(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

TEST(HeaderConstants, EventsAreOneBitEachWithinTheCallbackSlots)
{
    // ImapRegisterEvent keeps one callback per bit, eight slots.
    const uint32_t events[] = {
        IMAP_EVENT_CONNECT, IMAP_EVENT_DISCONNECT, IMAP_EVENT_READ, IMAP_EVENT_WRITE,
        IMAP_EVENT_TIMEOUT, IMAP_EVENT_CANCEL, IMAP_EVENT_COMMAND, IMAP_EVENT_PROGRESS,
    };
    uint32_t seen = 0;
    for (uint32_t e : events) {
        EXPECT_TRUE(IsSingleBit(e)) << std::hex << e;
        EXPECT_LT(e, 0x100u) << std::hex << e;
        EXPECT_EQ(seen & e, 0u) << "event bit used twice: " << std::hex << e;
        seen |= e;
    }
    EXPECT_EQ(seen, 0xFFu);
}

TEST(HeaderConstants, MessageFlagsLowWordMailboxAttributesHighWord)
{
    struct Row { uint32_t flag; bool mailbox; };
    const Row rows[] = {
        { IMAP_FLAG_ANSWERED, false },   { IMAP_FLAG_DRAFT, false },
        { IMAP_FLAG_URGENT, false },     { IMAP_FLAG_SEEN, false },
        { IMAP_FLAG_RECENT, false },     { IMAP_FLAG_DELETED, false },
        { IMAP_FLAG_NOINFERIORS, true }, { IMAP_FLAG_NOSELECT, true },
        { IMAP_FLAG_MARKED, true },      { IMAP_FLAG_UNMARKED, true },
    };
    uint32_t seen = 0;
    for (const Row &r : rows) {
        EXPECT_TRUE(IsSingleBit(r.flag)) << std::hex << r.flag;
        EXPECT_EQ((r.flag & 0xFFFF0000u) != 0, r.mailbox) << std::hex << r.flag;
        EXPECT_EQ(seen & r.flag, 0u) << "flag bit used twice: " << std::hex << r.flag;
        seen |= r.flag;
    }
}

TEST(HeaderConstants, MessageOptionsDoNotOverlapSectionOptions)
{
    // ImapGetMessage takes both kinds in one dwOptions argument.
    const uint32_t sections = IMAP_SECTION_HEADER | IMAP_SECTION_MIMEHEADER |
                              IMAP_SECTION_BODY | IMAP_SECTION_PREVIEW;
    for (uint32_t option : { static_cast<uint32_t>(IMAP_MESSAGE_HEADERS),
                             static_cast<uint32_t>(IMAP_MESSAGE_UNICODE),
                             static_cast<uint32_t>(IMAP_MESSAGE_HGLOBAL) }) {
        EXPECT_TRUE(IsSingleBit(option)) << std::hex << option;
        EXPECT_EQ(option & sections, 0u) << std::hex << option;
    }
}

TEST(HeaderConstants, ConnectionOptionsAreDistinctBits)
{
    // IMAP_OPTION_SECURE_EXPLICIT is another name of IMAP_OPTION_SECURE.
    const uint32_t options[] = {
        IMAP_OPTION_IDENTIFY, IMAP_OPTION_TUNNEL, IMAP_OPTION_TRUSTEDSITE,
        IMAP_OPTION_SECURE, IMAP_OPTION_SECURE_IMPLICIT, IMAP_OPTION_SECURE_FALLBACK,
        IMAP_OPTION_IPV6ONLY, IMAP_OPTION_FREETHREAD,
    };
    uint32_t seen = 0;
    for (uint32_t o : options) {
        EXPECT_TRUE(IsSingleBit(o)) << std::hex << o;
        EXPECT_EQ(seen & o, 0u) << "option bit used twice: " << std::hex << o;
        seen |= o;
    }
}

TEST(HeaderConstants, SecurityProtocolsAreDistinctBits)
{
    // SECURITYCREDENTIALS.dwProtocol is a set of these.
    const uint32_t protocols[] = {
        SECURITY_PROTOCOL_SSL2, SECURITY_PROTOCOL_SSL3, SECURITY_PROTOCOL_TLS10,
        SECURITY_PROTOCOL_TLS11, SECURITY_PROTOCOL_TLS12, SECURITY_PROTOCOL_UNKNOWN,
    };
    uint32_t seen = 0;
    for (uint32_t p : protocols) {
        EXPECT_TRUE(IsSingleBit(p)) << std::hex << p;
        EXPECT_EQ(seen & p, 0u) << "protocol bit used twice: " << std::hex << p;
        seen |= p;
    }
}

} // namespace
