/*
 * dialects.h - greetings and capability answers of real servers, for
 * scripted peers.
 */
#ifndef TW_TESTS_DIALECTS_H
#define TW_TESTS_DIALECTS_H

#include "support/peer.h"

#include <string>

struct Dialect {
    const char *lpszGreeting;
    const char *lpszCapability; /* what follows "* CAPABILITY " */
};

/* Dovecot 2.3 before login. */
inline const Dialect &Dovecot()
{
    static const Dialect d = {
        "* OK [CAPABILITY IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE LITERAL+ STARTTLS AUTH=PLAIN] Dovecot ready.\r\n",
        "IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE LITERAL+ STARTTLS AUTH=PLAIN"};
    return d;
}

/* A server with IDLE but without ID, and with AUTH=PLAIN but no SASL-IR. */
inline const Dialect &Plainish()
{
    static const Dialect d = {"* OK IMAP4rev1 ready\r\n", "IMAP4rev1 IDLE AUTH=PLAIN AUTH=PLAINISH AUTH=CRAM-MD5"};
    return d;
}

/* Scripts the greeting and the CAPABILITY exchange of a connection. */
inline ScriptedPeer &ScriptConnect(ScriptedPeer &peer, const Dialect &d)
{
    return peer.Send(d.lpszGreeting)
        .Expect("{tag} CAPABILITY")
        .Send(std::string("* CAPABILITY ") + d.lpszCapability + "\r\n{tag} OK Capability completed.\r\n");
}

#endif
