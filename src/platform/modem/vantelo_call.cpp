// vantelo-call: carries one modem call for the dial-up service. The service
// starts it at each dial of a modem entry with the call's lock held on
// descriptor 3 and the call's request (the password among it) on standard
// input; it leaves the dialing program at once and lives as long as the call.

#include "platform/modem/call_process.h"

#include <QByteArray>

#include <fcntl.h>
#include <unistd.h>

int main()
{
    QByteArray request;
    char buffer[4096];
    ssize_t n;
    // The dialing program bounds every value; a request larger than this is
    // refused whole, never read in part.
    constexpr qsizetype kMaxRequest = 1 << 20;
    while ((n = ::read(0, buffer, sizeof buffer)) > 0) {
        request.append(buffer, n);
        if (request.size() > kMaxRequest)
            return 2;
    }
    modem::CallRequest call;
    if (!modem::decodeCallRequest(request, &call))
        return 2;
    request.fill('\0');

    // The dialing program waits for this first process only: the call goes
    // on in a grandchild of its own session, which no terminal or desktop
    // session ending takes down.
    const pid_t pid = ::fork();
    if (pid < 0)
        return 1;
    if (pid > 0)
        ::_exit(0);
    ::setsid();
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        for (int fd = 0; fd <= 2; ++fd)
            ::dup2(devNull, fd);
        if (devNull > 2)
            ::close(devNull);
    }
    modem::runCall(call);
    return 0;
}
