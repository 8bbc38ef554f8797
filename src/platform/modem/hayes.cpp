#include "platform/modem/hayes.h"

#include "platform/ras.h"

namespace modem {

namespace {

// A modem's line is short; anything longer is noise and is dropped.
constexpr qsizetype kMaxLine = 512;

} // namespace

AnswerReader::AnswerReader(const QByteArray &command) : m_command(command.trimmed().toUpper()) {}

Answer AnswerReader::feed(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            const QByteArray line = m_pending.trimmed();
            m_pending.clear();
            if (line.isEmpty())
                continue;
            if (const Answer a = readLine(line); a != Answer::None)
                return a;
            continue;
        }
        if (m_pending.size() >= kMaxLine) {
            m_pending.clear();
            m_unrecognized = true;
        }
        m_pending.append(c);
    }
    return Answer::None;
}

Answer AnswerReader::readLine(const QByteArray &line)
{
    const QByteArray upper = line.toUpper();
    if (upper == m_command)
        return Answer::None; // the echo
    if (upper == "OK")
        return Answer::Ok;
    if (upper == "CONNECT" || upper.startsWith("CONNECT ") || upper.startsWith("CONNECT/")) {
        qsizetype i = 7;
        while (i < upper.size() && (upper.at(i) == ' ' || upper.at(i) == '/'))
            ++i;
        quint64 speed = 0;
        while (i < upper.size() && upper.at(i) >= '0' && upper.at(i) <= '9' && speed < 1000000000)
            speed = speed * 10 + quint64(upper.at(i++) - '0');
        m_speed = static_cast<quint32>(speed);
        return Answer::Connect;
    }
    if (upper == "BUSY")
        return Answer::Busy;
    if (upper == "NO CARRIER")
        return Answer::NoCarrier;
    if (upper == "NO DIALTONE" || upper == "NO DIAL TONE")
        return Answer::NoDialTone;
    if (upper == "NO ANSWER")
        return Answer::NoAnswer;
    if (upper == "ERROR" || upper == "DELAYED" || upper == "BLACKLISTED")
        return Answer::Error;
    if (upper == "RING" || upper == "RINGING" || upper.startsWith("CARRIER") ||
        upper.startsWith("PROTOCOL:") || upper.startsWith("COMPRESSION:"))
        return Answer::None;
    m_unrecognized = true;
    return Answer::None;
}

DWORD answerError(Answer answer)
{
    switch (answer) {
    case Answer::None:
    case Answer::Ok:
    case Answer::Connect:
        return 0;
    case Answer::Busy:
        return ERROR_LINE_BUSY;
    case Answer::NoCarrier:
        return ERROR_NO_CARRIER;
    case Answer::NoDialTone:
        return ERROR_NO_DIALTONE;
    case Answer::NoAnswer:
        return ERROR_NO_ANSWER;
    case Answer::Error:
        return ERROR_FROM_DEVICE;
    }
    return ERROR_FROM_DEVICE;
}

} // namespace modem
