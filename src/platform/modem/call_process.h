#pragma once

// The process that carries one modem call from the dial to the hang-up, so the
// call outlives the program that dialed it, as the system's own dial-up calls
// do. It opens and locks the port, talks to the modem, hands the line to pppd,
// follows pppd's log, and reports each step in the call store, where every
// process reads it. A SIGTERM is the hang-up: pppd is ended, the modem hung
// up, the port released, and the call forgotten. A call that fails or ends by
// itself is reported with its error and stays listed until it is hung up; its
// process ends once the port is released, and it never polls while it waits.

#include "platform/modem/modem_settings.h"
#include "platform/ras.h"

#include <QByteArray>
#include <QString>

namespace modem {

struct CallRequest
{
    HRASCONN handle = 0;
    ModemSettings settings;
    QString number; // as dialed: "P" in front for pulse dialing
    QString userName;
    QString password;
};

// The request as it travels through a pipe to the call's process (the only
// place the password goes), and back.
QByteArray encodeCallRequest(const CallRequest &request);
bool decodeCallRequest(const QByteArray &bytes, CallRequest *request);

// Carries the call; returns once the call is over and the port released.
// The process's lock on the call's lock file must be held by the caller.
void runCall(const CallRequest &request);

} // namespace modem
