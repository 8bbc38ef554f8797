#include "platform/modem/hayes.h"

#include "platform/ras.h"

namespace modem {

namespace {

// A modem's line is short; anything longer is noise and is dropped.
constexpr qsizetype kMaxLine = 512;
// An answer's own lines kept: enough for what a modem says it is.
constexpr qsizetype kMaxOtherLines = 16;

// The rate a line gives after its word ("CARRIER 28800/V34" → 28800), 0 when
// it gives none or one no modem line runs at.
quint32 rateAfter(const QByteArray &upper, qsizetype from)
{
    qsizetype i = from;
    while (i < upper.size() && (upper.at(i) == ' ' || upper.at(i) == '/' || upper.at(i) == ':'))
        ++i;
    quint64 rate = 0;
    int digits = 0;
    while (i < upper.size() && upper.at(i) >= '0' && upper.at(i) <= '9' && digits < 12) {
        rate = rate * 10 + quint64(upper.at(i++) - '0');
        ++digits;
    }
    if (i < upper.size() && upper.at(i) >= '0' && upper.at(i) <= '9')
        return 0; // more digits than any rate has
    return rate <= MaxLineRate ? quint32(rate) : 0;
}

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
            if (const Answer a = readLine(line); a != Answer::None) {
                m_finalLine = line;
                return a;
            }
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
        m_connectRate = rateAfter(upper, 7);
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
    // The line's own rate, as modems report it before CONNECT (which may
    // give the port's rate instead, or none).
    if (upper.startsWith("CARRIER")) {
        if (const quint32 rate = rateAfter(upper, 7); rate != 0)
            m_carrierRate = rate;
        return Answer::None;
    }
    if (upper.startsWith("PROTOCOL:")) {
        if (const quint32 rate = rateAfter(upper, 9); rate != 0 && m_carrierRate == 0)
            m_carrierRate = rate;
        return Answer::None;
    }
    if (upper == "RING" || upper == "RINGING" || upper.startsWith("COMPRESSION:"))
        return Answer::None;
    m_unrecognized = true;
    if (m_otherLines.size() < kMaxOtherLines)
        m_otherLines.append(line);
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
