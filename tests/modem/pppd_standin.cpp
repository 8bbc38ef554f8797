// A stand-in for pppd, for the modem line's tests on a kernel without PPP:
// it takes pppd's arguments as Vantelo gives them, keeps the password it reads
// on passwordfd (as hex, in $VANTELO_STANDIN_DIR/password.hex) and its pid
// (pid), logs a link coming up on logfd, and holds the line until a SIGTERM or
// SIGHUP (exit 5, as pppd's status for a signal). With
// VANTELO_STANDIN_SETUID=1 it drops the parent-death signal, as the exec of
// the real, setuid pppd does. With VANTELO_STANDIN_END=ipcp the login passes
// and the network's setup (IPCP) fails, and it ends with status 10.
//
// When the peers file it is called with ($VANTELO_PPP_PEERS_DIR/PEER) asks for
// lcp-echo-interval and lcp-echo-failure, it checks the link as pppd does: an
// echo request on the line every interval, and any byte back counts as the
// reply. After that many requests in a row without one it ends as pppd ends a
// dead link: status 15, or with VANTELO_STANDIN_DEAD_EXIT=16, as pppd 2.4.9
// was seen to on a real link, "Modem hangup" and status 16 (the line it gave
// back read as hung up). VANTELO_STANDIN_ECHO_UNIT_MS is the interval's unit
// in milliseconds (1000, pppd's seconds, by default), so tests need not wait.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
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

struct EchoCheck
{
    long intervalMs = 0;
    long failures = 0;
};

// lcp-echo-interval and lcp-echo-failure as the peers file gives them.
EchoCheck echoCheck(const char *peer)
{
    EchoCheck check;
    const char *dir = std::getenv("VANTELO_PPP_PEERS_DIR");
    if (!peer || !dir)
        return check;
    long interval = 0;
    std::ifstream file(std::string(dir) + "/" + peer);
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string option;
        long value = 0;
        if (!(words >> option >> value))
            continue;
        if (option == "lcp-echo-interval")
            interval = value;
        else if (option == "lcp-echo-failure")
            check.failures = value;
    }
    const char *unit = std::getenv("VANTELO_STANDIN_ECHO_UNIT_MS");
    check.intervalMs = interval * (unit && *unit ? std::atol(unit) : 1000);
    return check;
}

// Holds the link until a signal ends it (false) or the far end stops
// answering the echo requests (true).
bool holdLink(const EchoCheck &check)
{
    if (check.intervalMs <= 0 || check.failures <= 0) {
        while (!g_ended)
            pause();
        return false;
    }
    long unanswered = 0;
    while (!g_ended) {
        [[maybe_unused]] const ssize_t sent = write(0, "echo-request\n", 13);
        bool answered = false;
        pollfd line = {0, POLLIN, 0};
        // The whole interval passes whether or not the reply comes early.
        for (long waited = 0; waited < check.intervalMs && !g_ended; waited += 10) {
            if (poll(&line, 1, 10) == 1 && (line.revents & POLLIN)) {
                char buffer[256];
                answered = read(0, buffer, sizeof buffer) > 0 || answered;
            }
        }
        unanswered = answered ? 0 : unanswered + 1;
        if (unanswered >= check.failures)
            return !g_ended;
    }
    return false;
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
    const char *peer = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "call") == 0)
            peer = argv[i + 1];
        else if (std::strcmp(argv[i], "logfd") == 0)
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
    const EchoCheck check = echoCheck(peer);
    if (holdLink(check)) {
        dprintf(logFd,
                "No response to %ld echo-requests\nSerial link appears to be disconnected.\n"
                "Connection terminated.\n",
                check.failures);
        const char *status = std::getenv("VANTELO_STANDIN_DEAD_EXIT");
        if (status && std::strcmp(status, "16") == 0) {
            dprintf(logFd, "Modem hangup\n");
            return 16;
        }
        return 15;
    }
    dprintf(logFd, "Connection terminated.\n");
    return 5;
}
