#pragma once

// Reading a Hayes modem's answers: the lines it sends back after a command,
// its echo of the command dropped, until a final result code arrives.

#include "platform/wintypes.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace modem {

// The fastest rate a modem line is taken to run at; a modem reporting more
// is talking nonsense.
inline constexpr quint64 MaxLineRate = 4000000;

enum class Answer { None, Ok, Connect, Busy, NoCarrier, NoDialTone, NoAnswer, Error };

class AnswerReader final
{
public:
    // `command` is the command just sent, without its CR: the modem may echo it.
    explicit AnswerReader(const QByteArray &command);

    // Takes what the modem sent; returns the final answer once it has come,
    // Answer::None until then. Informational lines (RING, CARRIER,
    // PROTOCOL:, COMPRESSION:) are passed over.
    Answer feed(const QByteArray &bytes);

    // The line's rate: a CARRIER line's ("CARRIER 28800"), else the CONNECT
    // answer's ("CONNECT 33600/ARQ/V34/LAPM/V42BIS" → 33600); 0 when the
    // modem gave none that a line can run at (the port's rate is then all
    // there is to show).
    quint32 connectSpeed() const { return m_carrierRate != 0 ? m_carrierRate : m_connectRate; }
    // The line that gave the final answer, as the modem sent it.
    QByteArray finalLine() const { return m_finalLine; }
    // Whether anything arrived that is neither the echo, nor a result code,
    // nor an informational line.
    bool sawUnrecognized() const { return m_unrecognized; }
    // Those lines, as the modem sent them (what ATI and AT+GMM answer), the
    // first few only.
    QList<QByteArray> otherLines() const { return m_otherLines; }

private:
    Answer readLine(const QByteArray &line);

    QByteArray m_command;
    QByteArray m_pending;
    QByteArray m_finalLine;
    QList<QByteArray> m_otherLines;
    quint32 m_carrierRate = 0;
    quint32 m_connectRate = 0;
    bool m_unrecognized = false;
};

// The service's error for a final answer that ends a dial (0 for OK and CONNECT).
DWORD answerError(Answer answer);

} // namespace modem
