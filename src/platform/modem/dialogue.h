#pragma once

// The call's dialogue with its modem: one AT command at a time, each waited
// for until its final answer, its timeout or a hang-up.

#include "platform/modem/hayes.h"
#include "platform/wintypes.h"

#include <QString>
#include <QStringList>

namespace modem {

class ModemLog;

struct Command
{
    QString stage; // in words, for a failure: "Dialing 0860"
    QString text;  // as sent, without the carriage return
    int timeoutMs = 0;
    Answer wanted = Answer::Ok;
};

struct Reply
{
    DWORD error = 0;     // 0: the wanted answer came (or the call was hung up)
    bool hangUp = false; // a hang-up arrived while waiting
    quint32 speed = 0;   // CONNECT's speed, 0 when it named none
    QString words;       // with an error: the stage and what the modem said
    QStringList said;    // the answer's own lines before its result (ATI's text)
};

// Sends the command on the port (a descriptor open for reading and writing)
// and waits for its final answer; every line sent and received goes to the log.
Reply sendCommand(int portFd, ModemLog &log, const Command &command);

} // namespace modem
