#include "platform/modem/dialogue.h"

#include "platform/modem/call_events.h"
#include "platform/ras.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace modem {

Reply sendCommand(int portFd, ModemLog &log, const Command &command)
{
    Reply reply;
    const auto failed = [&](DWORD rc, const QString &what) {
        reply.error = rc;
        reply.words = command.stage + u": "_s + what;
        return reply;
    };
    const QByteArray bytes = command.text.toLatin1();
    log.write(u"> "_s + command.text);
    const QByteArray line = bytes + '\r';
    if (::write(portFd, line.constData(), size_t(line.size())) != line.size())
        return failed(ERROR_HARDWARE_FAILURE, u"the command could not be sent to the modem."_s);
    AnswerReader reader(bytes);
    const qint64 deadline = monotonicMs() + command.timeoutMs;
    for (;;) {
        const qint64 left = deadline - monotonicMs();
        if (left <= 0) {
            log.write(u"No answer in time."_s);
            const QString waited = QString::number((command.timeoutMs + 999) / 1000);
            if (reader.sawUnrecognized())
                return failed(
                    ERROR_UNRECOGNIZED_RESPONSE,
                    u"the modem sent only what no modem answers, for %1 s."_s.arg(waited));
            if (command.wanted == Answer::Ok)
                return failed(
                    ERROR_DEVICE_NOT_READY,
                    u"the modem did not answer %1 within %2 s."_s.arg(command.text, waited));
            return failed(ERROR_NO_ANSWER,
                          u"the far end did not answer within %1 s."_s.arg(waited));
        }
        pollfd fds[2] = {{portFd, POLLIN, 0}, {signalFd(), POLLIN, 0}};
        if (::poll(fds, 2, int(left)) < 0 && errno != EINTR) {
            reply.error = ERROR_HARDWARE_FAILURE;
            return reply;
        }
        if ((fds[1].revents & POLLIN) && readHangUpSignals()) {
            // Any character ends a dial in progress.
            [[maybe_unused]] const ssize_t n = ::write(portFd, "\r", 1);
            reply.hangUp = true;
            return reply;
        }
        if (fds[0].revents & POLLIN) {
            char buffer[256];
            const ssize_t n = ::read(portFd, buffer, sizeof buffer);
            if (n > 0) {
                const QByteArray got(buffer, n);
                log.write(u"< "_s + QString::fromLatin1(got).trimmed());
                const Answer answer = reader.feed(got);
                if (answer == Answer::None)
                    continue;
                if (answer == command.wanted) {
                    reply.speed = reader.connectSpeed();
                    for (const QByteArray &said : reader.otherLines())
                        reply.said.append(QString::fromLatin1(said));
                    return reply;
                }
                const QString said = u"the modem answered \"%1\"."_s.arg(
                    QString::fromLatin1(reader.finalLine().left(80)));
                if (answer == Answer::Ok || answer == Answer::Connect)
                    return failed(ERROR_UNRECOGNIZED_RESPONSE, said);
                return failed(answerError(answer), said);
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return failed(ERROR_HARDWARE_FAILURE, u"the modem is gone."_s);
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return failed(ERROR_HARDWARE_FAILURE, u"the modem is gone."_s);
        }
    }
}

} // namespace modem
