// A stand-in for pppd, for the modem line's tests on a kernel without PPP:
// it takes pppd's arguments as Vantelo gives them, keeps the password it reads
// on passwordfd (as hex, in $VANTELO_STANDIN_DIR/password.hex) and its pid
// (pid), logs a link coming up on logfd, and holds the line until a SIGTERM or
// SIGHUP (exit 5, as pppd's status for a signal). With
// VANTELO_STANDIN_SETUID=1 it drops the parent-death signal, as the exec of
// the real, setuid pppd does. With VANTELO_STANDIN_END=ipcp the login passes
// and the network's setup (IPCP) fails, and it ends with status 10.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_ended = 0;

void onEnd(int)
{
    g_ended = 1;
}

void writeFile(const std::string &path, const std::string &text)
{
    if (FILE *f = std::fopen(path.c_str(), "w")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

// The login passes, then the ISP never answers the network's setup: pppd
// says so, closes the link, and ends with its status for a failed negotiation.
int ipcpFails(int logFd)
{
    dprintf(logFd, "Connect: ppp0 <--> /dev/pts/0\n"
                   "PAP authentication succeeded\n"
                   "IPCP: timeout sending Config-Requests\n"
                   "Connection terminated.\n"
                   "Connect time 0.1 minutes.\n"
                   "Sent 120 bytes, received 80 bytes.\n");
    return 10;
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *setuid = std::getenv("VANTELO_STANDIN_SETUID"); setuid && *setuid == '1')
        prctl(PR_SET_PDEATHSIG, 0);
    struct sigaction sa = {};
    sa.sa_handler = onEnd;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    int logFd = -1;
    int passwordFd = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "logfd") == 0)
            logFd = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "passwordfd") == 0)
            passwordFd = std::atoi(argv[i + 1]);
    }
    const char *dir = std::getenv("VANTELO_STANDIN_DIR");
    if (!dir || logFd < 0 || passwordFd < 0)
        return 2;
    std::string hex;
    char buffer[256];
    ssize_t n;
    while ((n = read(passwordFd, buffer, sizeof buffer)) > 0) {
        for (ssize_t k = 0; k < n; ++k) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(buffer[k]));
            hex += two;
        }
    }
    writeFile(std::string(dir) + "/password.hex", hex);
    writeFile(std::string(dir) + "/pid", std::to_string(getpid()));
    if (const char *end = std::getenv("VANTELO_STANDIN_END"); end && std::strcmp(end, "ipcp") == 0)
        return ipcpFails(logFd);
    dprintf(logFd, "Connect: ppp0 <--> /dev/pts/0\nlocal  IP address 10.0.0.2\n");
    while (!g_ended)
        pause();
    dprintf(logFd, "Connection terminated.\n");
    return 5;
}
