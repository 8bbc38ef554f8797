// A Hayes-style modem on a pseudo-terminal, for testing the modem line without a modem.
//
// The client opens the pty's slave through a symlink (--link) and talks AT commands to it;
// after CONNECT the line is bridged to an "ISP" program given after "--" (the far end,
// e.g. a pppd in a network namespace). Every event is one line in --log. SIGUSR1 drops
// the carrier; SIGUSR2 makes the far end go silent with the carrier kept (a dead link:
// the client's bytes are swallowed and nothing comes back until the call ends); SIGTERM
// and SIGINT switch the modem off.
//
// A pty has no DTR line: the client's speed 0 (B0, which drops DTR on a serial port)
// stands for it. During a call it hangs the modem up with NO CARRIER, as AT&D2 does,
// unless --dtr-deaf (AT&D0) makes the modem ignore it. Then only the escape, "+++"
// between two guard times of silence (--guard-ms, 1000), brings back command mode (OK),
// where ATH hangs up.
//
// ATI, ATI3, AT+GMI and AT+GMM answer what the modem is. With --mute the port answers
// nothing at all, as a serial port with no modem behind it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum Reply { Ok, Connect, Busy, NoCarrier, NoDialtone, NoAnswer, Error, Garbage, Silent, Vanish };

// Each answer's name on the command line and its verbose result code.
struct ReplyName
{
    std::string_view name;
    Reply reply;
    std::string_view words;
};
constexpr ReplyName replyNames[] = {{"ok", Reply::Ok, "OK"},
                                    {"connect", Reply::Connect, "CONNECT"},
                                    {"busy", Reply::Busy, "BUSY"},
                                    {"nocarrier", Reply::NoCarrier, "NO CARRIER"},
                                    {"nodialtone", Reply::NoDialtone, "NO DIALTONE"},
                                    {"noanswer", Reply::NoAnswer, "NO ANSWER"},
                                    {"error", Reply::Error, "ERROR"},
                                    {"garbage", Reply::Garbage, ""},
                                    {"silent", Reply::Silent, ""},
                                    {"vanish", Reply::Vanish, ""}};

std::optional<Reply> parseReply(std::string_view name)
{
    for (const auto &r : replyNames)
        if (r.name == name)
            return r.reply;
    return std::nullopt;
}

struct Options
{
    std::string link, readyFile, logFile;
    long speed = 28800;
    long delayMs = 0;
    Reply init = Reply::Ok;
    Reply fallback = Reply::Connect;
    std::map<std::string, Reply> numbers;
    bool holdUntilIsp = false;
    mode_t lineMode = 0666;
    bool pace = false;
    bool dtrDeaf = false;
    bool mute = false; // --mute: a port with nothing behind it, answering nothing
    long guardMs = 1000;
    std::vector<std::string> isp;
};

// A command or number as the modem reads it: no spaces, letters in upper case.
std::string normalized(std::string_view s)
{
    std::string out;
    for (const char c : s)
        if (c != ' ')
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

int signalPipe[2] = {-1, -1};
constexpr int handledSignals[] = {SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP, SIGCHLD};

// Signals only wake the poll loop up; the work happens there.
void onSignal(int sig)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const auto n = write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Raw line: no echo, no line editing, no CR/LF translation. On a pty master this sets the
// slave's modes, so a client that opens it finds a line as plain as a serial port.
bool makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

int openMaster(std::string &slavePath)
{
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128];
    if (fd < 0)
        return -1;
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0 ||
        !makeRaw(fd)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    slavePath = name;
    return fd;
}

// A file or symlink is made under a temporary name and renamed over the real one, so a
// reader never finds it half made.
bool replaceAtomically(const std::string &path, const std::string &content, bool asSymlink)
{
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    unlink(tmp.c_str());
    bool ok = false;
    if (asSymlink) {
        ok = symlink(content.c_str(), tmp.c_str()) == 0;
    } else if (FILE *f = std::fopen(tmp.c_str(), "w")) {
        ok = std::fputs(content.c_str(), f) >= 0;
        ok = std::fclose(f) == 0 && ok;
    }
    if (ok && rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    unlink(tmp.c_str());
    return false;
}

// Writes what it can of buf to a non-blocking fd; a dead fd discards the rest.
void drain(int fd, std::string &buf)
{
    while (!buf.empty()) {
        const ssize_t n = write(fd, buf.data(), buf.size());
        if (n <= 0) {
            if (errno != EAGAIN && errno != EINTR)
                buf.clear();
            return;
        }
        buf.erase(0, static_cast<size_t>(n));
    }
}

// A line's pace: with --pace a call carries speed / 10 bytes a second each way (a
// start bit, eight data bits and a stop bit per byte), as a real line does, in
// bursts of at most 20 ms of data.
class Pacer
{
public:
    void start(long bitsPerSecond)
    {
        rate_ = static_cast<double>(bitsPerSecond) / 10.0;
        credit_ = 0;
        last_ = Clock::now();
    }
    void stop() { rate_ = 0; }
    bool paced() const { return rate_ > 0; }

    // How many bytes may be written now.
    size_t allowance()
    {
        if (!paced())
            return SIZE_MAX;
        const auto now = Clock::now();
        credit_ = creditAt(now);
        last_ = now;
        return static_cast<size_t>(credit_);
    }
    void spent(size_t bytes)
    {
        if (paced())
            credit_ -= static_cast<double>(bytes);
    }
    // Milliseconds until the next write of queued bytes may go: a burst's worth,
    // or all of them when fewer are queued, so that a paced line wakes about 50
    // times a second rather than once a byte.
    int msUntilNext(size_t queued) const
    {
        if (!paced() || queued == 0)
            return 0;
        const double need = std::min(static_cast<double>(queued), burst());
        const double credit = creditAt(Clock::now());
        if (credit >= need)
            return 0;
        return static_cast<int>(std::ceil((need - credit) / rate_ * 1000.0));
    }
    // What may wait in the modem's buffer one way: half a second of data, as a
    // modem's small buffer and flow control keep it; all of it without --pace.
    size_t bufferCap(size_t unpaced) const
    {
        return paced() ? std::max<size_t>(512, static_cast<size_t>(rate_ / 2)) : unpaced;
    }

private:
    double creditAt(Clock::time_point now) const
    {
        const double elapsed = std::chrono::duration<double>(now - last_).count();
        return std::min(credit_ + elapsed * rate_, burst());
    }
    double burst() const { return std::max(1.0, rate_ / 50.0); }

    double rate_ = 0, credit_ = 0;
    Clock::time_point last_;
};

// Writes what the pacer allows of buf to fd.
void drain(int fd, std::string &buf, Pacer &pacer)
{
    const size_t allowed = pacer.allowance();
    if (allowed >= buf.size()) {
        const size_t before = buf.size();
        drain(fd, buf);
        pacer.spent(before - buf.size());
        return;
    }
    std::string part = buf.substr(0, allowed);
    drain(fd, part);
    const size_t written = allowed - part.size();
    buf.erase(0, written);
    pacer.spent(written);
}

std::string describeStatus(int status)
{
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(WEXITSTATUS(status));
}

class Modem
{
public:
    explicit Modem(Options o) : opts_(std::move(o)) {}

    int run()
    {
        if (!opts_.logFile.empty()) {
            logFd_ = open(opts_.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (logFd_ < 0) {
                std::perror(opts_.logFile.c_str());
                return 1;
            }
        }
        if (pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0)
            return 1;
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sa.sa_flags = SA_NOCLDSTOP;
        sigemptyset(&sa.sa_mask);
        for (const int sig : handledSignals)
            sigaction(sig, &sa, nullptr);
        signal(SIGPIPE, SIG_IGN);
        if (!openLine())
            return 1;
        while (!quit_)
            step();
        return exitStatus_;
    }

private:
    enum class Mode { Command, Data };
    struct Pending
    {
        Reply reply;
        bool dial;
        Clock::time_point due;
        bool forever; // a silent dial: only a keypress ends it
    };
    static constexpr size_t bufferCap = 65536;

    void log(const std::string &line)
    {
        const std::string l = line + "\n";
        if (logFd_ >= 0 && write(logFd_, l.data(), l.size()) < 0)
            std::perror("modem_emulator: log");
    }

    // One turn of the loop. While no client has the slave open the master reports POLLHUP
    // without end, so it is then left out of poll and looked at again every 20 ms.
    void step()
    {
        if (!slaveOpen_) {
            pollfd p{master_, POLLIN, 0};
            slaveOpen_ = !(poll(&p, 1, 0) == 1 && (p.revents & POLLHUP));
        }
        pollfd fds[4] = {{signalPipe[0], POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}, {ispErr_, POLLIN, 0}};
        // A paced line's queued bytes wait for their time: poll then wakes for it
        // rather than for room to write.
        const int lineWait = toLinePace_.msUntilNext(toLine_.size());
        const int ispWait = toIspPace_.msUntilNext(toIsp_.size());
        if (slaveOpen_) {
            const bool room = mode_ == Mode::Command || ispFd_ < 0 ||
                              toIsp_.size() < toIspPace_.bufferCap(bufferCap);
            fds[1] = {master_, pollEvents(room, lineWait > 0 ? "" : toLine_), 0};
        }
        if (ispFd_ >= 0) {
            const bool room = toLine_.size() < toLinePace_.bufferCap(bufferCap);
            fds[2] = {ispFd_, pollEvents(ispReadable_ && room, ispWait > 0 ? "" : toIsp_), 0};
        }
        int timeout = slaveOpen_ ? -1 : 20;
        // In a call, the line's DTR (its speed) and the escape's guard time are watched.
        if (slaveOpen_ && mode_ == Mode::Data)
            timeout = 20;
        for (const int wait : {lineWait, ispWait})
            if (wait > 0)
                timeout = timeout < 0 ? wait : std::min(timeout, wait);
        if (pending_ && !pending_->forever) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(pending_->due - Clock::now());
            const int ms = static_cast<int>(std::max<long long>(0, left.count()));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        if (poll(fds, 4, timeout) < 0 && errno != EINTR) {
            std::perror("modem_emulator: poll");
            exitStatus_ = 1;
            quit_ = true;
            return;
        }
        if (fds[0].revents) {
            handleSignals();
            return; // the line or the far end may have changed under the other results
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
            readLine();
        if (fds[1].revents & POLLOUT)
            drain(master_, toLine_, toLinePace_);
        if (ispFd_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)))
            readIsp();
        if (ispFd_ >= 0 && (fds[2].revents & POLLOUT))
            flushIsp();
        if (fds[3].revents)
            readIspErrors();
        if (pending_ && !pending_->forever && Clock::now() >= pending_->due)
            answer();
        // A paced line writes again once its time has come, whatever poll said.
        if (slaveOpen_ && lineWait > 0 && toLinePace_.msUntilNext(toLine_.size()) == 0)
            drain(master_, toLine_, toLinePace_);
        if (ispFd_ >= 0 && ispWait > 0 && toIspPace_.msUntilNext(toIsp_.size()) == 0)
            flushIsp();
        if (slaveOpen_ && mode_ == Mode::Data)
            watchDtrAndEscape();
    }

    void watchDtrAndEscape()
    {
        termios t{};
        const bool dtrDown = tcgetattr(master_, &t) == 0 && cfgetospeed(&t) == B0;
        if (dtrDown && !dtrSeenDown_) {
            dtrSeenDown_ = true;
            if (opts_.dtrDeaf) {
                log("DTR ignored");
            } else {
                log("DTR HANGUP");
                leaveDataMode();
                result("NO CARRIER");
                return;
            }
        } else if (!dtrDown) {
            dtrSeenDown_ = false;
        }
        // "+++" then a guard time of silence: back to command mode, the call kept.
        if (escapeAt_ && Clock::now() - *escapeAt_ >= std::chrono::milliseconds(opts_.guardMs)) {
            escapeAt_.reset();
            log("ESCAPE");
            endIsp();
            mode_ = Mode::Command;
            online_ = true;
            result("OK");
        }
    }

    static short pollEvents(bool read, const std::string &toWrite)
    {
        return static_cast<short>((read ? POLLIN : 0) | (toWrite.empty() ? 0 : POLLOUT));
    }

    // Plugging the modem in: a fresh pty whose slave anyone may open (or those that
    // --line-mode lets, as a modem's device lets its group), published at the link. After a carrier
    // loss the old line closes only once the new one exists, so the two never share a number.
    bool openLine()
    {
        std::string path;
        const int fd = openMaster(path);
        if (fd < 0 || chmod(path.c_str(), opts_.lineMode) != 0 ||
            !replaceAtomically(opts_.link, path, true) ||
            (!opts_.readyFile.empty() && !replaceAtomically(opts_.readyFile, path + "\n", false))) {
            std::perror("modem_emulator: cannot set up the line");
            if (fd >= 0)
                close(fd);
            return false;
        }
        if (master_ >= 0)
            close(master_);
        master_ = fd;
        slavePath_ = path;
        slaveOpen_ = false;
        log("READY " + path);
        return true;
    }

    void closeLine()
    {
        close(master_);
        master_ = -1;
        unlink(opts_.link.c_str());
        if (!opts_.readyFile.empty())
            unlink(opts_.readyFile.c_str());
    }

    void readLine()
    {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0 && mode_ == Mode::Command) {
            input_.append(buf, static_cast<size_t>(n));
            runCommands();
        } else if (n > 0) {
            dataFromLine(buf, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            hangup();
        }
    }

    void send(const std::string &bytes)
    {
        toLine_ += bytes;
        drain(master_, toLine_, toLinePace_);
    }

    // Verbose result codes, framed as a modem in V1 mode frames them.
    void result(const std::string &text)
    {
        send("\r\n" + text + "\r\n");
        log("RESULT " + text);
    }

    // The client closed the line (DTR dropped): a call ends, the modem resets, and the
    // same line waits for the next client.
    void hangup()
    {
        slaveOpen_ = false;
        if (opts_.dtrDeaf && (mode_ == Mode::Data || online_))
            log("CLOSED while off-hook");
        if (mode_ == Mode::Data)
            leaveDataMode();
        log("HANGUP");
        resetCommandState();
        toLine_.clear();
        // What the client left unread goes with the call, and the next client finds a raw
        // line whatever modes this one set.
        if (const int fd = openSlave(); fd >= 0) {
            tcflush(fd, TCIOFLUSH);
            close(fd);
        }
        makeRaw(master_);
    }

    int openSlave() const
    {
        return open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }

    void resetCommandState()
    {
        online_ = false;
        mode_ = Mode::Command;
        echo_ = true;
        typed_.clear();
        input_.clear();
        pending_.reset();
        pendingInfo_.clear();
    }

    // Command mode: characters collect up to CR (LF ignored, backspace edits). While the
    // modem is answering, typed-ahead characters wait; while it dials, any character
    // abandons the call, as a real modem hangs up on a keypress during dialing.
    void runCommands()
    {
        size_t i = 0;
        while (mode_ == Mode::Command && i < input_.size() && !(pending_ && !pending_->dial)) {
            const char c = input_[i++];
            if (c == '\n') {
                continue;
            } else if (pending_) {
                pending_.reset();
                log("ABORT");
                result("NO CARRIER");
            } else if (c == '\r') {
                execute(std::exchange(typed_, {}));
            } else if (c == '\b' || c == 0x7f) {
                if (!typed_.empty())
                    typed_.pop_back();
            } else if (typed_.size() < 256) {
                typed_ += c;
            }
        }
        input_.erase(0, i);
        if (mode_ == Mode::Data && !input_.empty()) {
            const std::string rest = std::exchange(input_, {});
            dataFromLine(rest.data(), rest.size());
        }
    }

    // One command line: AT, then commands, each a letter (or &letter, +letter...) and
    // digits; S registers take =value; D takes the rest of the line as the number. Z and
    // &F reset the modem and answer as --init says. A line not starting with AT is an
    // ERROR; every other command is accepted with OK.
    void execute(const std::string &typed)
    {
        if (typed.empty())
            return;
        if (opts_.mute) {
            log("CMD " + typed + " (mute)");
            return;
        }
        log("CMD " + typed);
        const std::string cmd = normalized(typed);
        if (answerIdentity(typed, cmd))
            return;
        Reply reply = cmd.starts_with("AT") ? Reply::Ok : Reply::Error;
        bool dial = false;
        std::optional<bool> echo;
        for (size_t i = 2; reply == Reply::Ok && !dial && i < cmd.size();) {
            const char k = cmd[i++];
            const auto digits = [&] {
                const size_t start = i;
                while (i < cmd.size() && std::isdigit(static_cast<unsigned char>(cmd[i])))
                    ++i;
                return cmd.substr(start, i - start);
            };
            if (k == 'H' && online_) {
                digits();
                online_ = false;
                log("ATH HANGUP");
            } else if (k == 'D') {
                std::string number = cmd.substr(i);
                if (number.starts_with('T') || number.starts_with('P'))
                    number.erase(0, 1);
                const auto it = opts_.numbers.find(number);
                reply = it != opts_.numbers.end() ? it->second : opts_.fallback;
                dial = true;
            } else if (k == 'Z' || (k == '&' && i < cmd.size() && cmd[i] == 'F')) {
                i += k == '&' ? 1 : 0;
                digits();
                if (opts_.init == Reply::Ok)
                    echo = true;
                reply = opts_.init;
            } else if (k == 'E') {
                echo = digits() == "1";
            } else {
                if (std::strchr("&+%\\", k) && i < cmd.size())
                    ++i; // an extended command: a prefix, then the letter
                digits();
                if (k == 'S' && i < cmd.size() && (cmd[i] == '=' || cmd[i] == '?')) {
                    ++i;
                    digits();
                }
            }
        }
        const bool dead = !dial && reply == Reply::Silent; // it failed to reset: not a sound
        if (echo_ && !dead)
            send(typed + "\r");
        if (echo)
            echo_ = *echo;
        if (!dead) {
            const auto due = Clock::now() + std::chrono::milliseconds(opts_.delayMs);
            pending_ = Pending{reply, dial, due, dial && reply == Reply::Silent};
        }
    }

    // What the modem says it is: ATI (ATI0), ATI3, AT+GMI, AT+GMM each answer
    // a line of text, then OK. False for any other command.
    bool answerIdentity(const std::string &typed, const std::string &cmd)
    {
        static const std::map<std::string, std::string> identity = {
            {"ATI", "Vantelo Emulated Modem"},
            {"ATI0", "Vantelo Emulated Modem"},
            {"ATI3", "VEM-336 V.34 Data/Fax Modem, version 1.0"},
            {"AT+GMI", "Vantelo"},
            {"AT+GMM", "VEM-336"}};
        const auto it = identity.find(cmd);
        if (it == identity.end())
            return false;
        if (echo_)
            send(typed + "\r");
        pendingInfo_ = it->second;
        pending_ = Pending{Reply::Ok, false,
                           Clock::now() + std::chrono::milliseconds(opts_.delayMs), false};
        return true;
    }

    // The answer, once --delay-ms has passed.
    void answer()
    {
        const Reply reply = pending_->reply;
        pending_.reset();
        if (!pendingInfo_.empty()) {
            send("\r\n" + std::exchange(pendingInfo_, {}) + "\r\n");
            log("INFO");
        }
        if (reply == Reply::Vanish) {
            // A USB modem unplugged mid-dial: the device and its name are gone.
            drain(master_, toLine_);
            log("VANISH");
            closeLine();
            quit_ = true;
            return;
        }
        if (reply == Reply::Connect) {
            result("CONNECT " + std::to_string(opts_.speed));
            enterDataMode();
        } else if (reply == Reply::Garbage) {
            sendGarbage();
        } else {
            for (const auto &r : replyNames)
                if (r.reply == reply && !r.words.empty())
                    result(std::string(r.words));
        }
        runCommands();
    }

    // Line noise or a modem at the wrong speed: lines of non-ASCII and random printable
    // bytes, with no letters, so that no result word can appear by chance; no final result.
    void sendGarbage()
    {
        static constexpr std::string_view printable = "0123456789#$%&*+-/<=>@^_~|";
        std::uniform_int_distribution<int> pick(0, 255);
        std::string junk;
        for (int k = 0; k < 36; ++k) {
            const int r = pick(rng_);
            junk += k % 12 == 0 ? "\r\n" : "";
            junk += r < 128 ? printable[static_cast<size_t>(r) % printable.size()]
                            : static_cast<char>(r);
        }
        send(junk + "\r\n");
        log("RESULT (garbage)");
    }

    // Data mode: the call is up and the line carries the client's bytes to the far end,
    // or, with no far end, swallows them.
    void enterDataMode()
    {
        mode_ = Mode::Data;
        if (opts_.pace) {
            toLinePace_.start(opts_.speed);
            toIspPace_.start(opts_.speed);
        }
        lastData_ = Clock::now();
        escapeAt_.reset();
        bytesIn_ = bytesOut_ = 0;
        ispSpoke_ = false;
        if (!opts_.isp.empty())
            startIsp();
    }

    // The far end stops answering while the carrier stays up: a dead link, which only
    // the client's own keepalive (pppd's LCP echo) can notice.
    void goSilent()
    {
        if (mode_ != Mode::Data) {
            log("SILENT ignored: no call is up");
            return;
        }
        farEndSilent_ = true;
        toLine_.clear();
        toIsp_.clear();
        log("SILENT far end, carrier kept");
    }

    void leaveDataMode()
    {
        farEndSilent_ = false;
        endIsp();
        log("DATA in=" + std::to_string(bytesIn_) + " out=" + std::to_string(bytesOut_));
        toIsp_.clear();
        // Back in command mode the modem answers at once.
        toLinePace_.stop();
        toIspPace_.stop();
        drain(master_, toLine_);
        resetCommandState();
    }

    void dataFromLine(const char *p, size_t n)
    {
        // The escape: a guard time of silence, then "+++" alone.
        const auto now = Clock::now();
        const bool quietBefore = now - lastData_ >= std::chrono::milliseconds(opts_.guardMs);
        if (n == 3 && std::string_view(p, n) == "+++" && quietBefore)
            escapeAt_ = now;
        else
            escapeAt_.reset();
        lastData_ = now;
        bytesIn_ += n;
        if (farEndSilent_)
            return;
        if (ispFd_ >= 0) {
            toIsp_.append(p, n);
            flushIsp();
        }
    }

    // The far end runs with a tty of its own (a second pty in raw mode, as a pppd wants its
    // line on stdin), or a socket pair if no pty can be had; in a session of its own, so
    // ending it reaches its children too. Our copy of its end stays open: its tty never
    // reports a hang-up while it runs, and its exit arrives as SIGCHLD.
    void startIsp()
    {
        std::string ttyPath;
        int parentEnd = openMaster(ttyPath), childEnd = -1;
        if (parentEnd >= 0 &&
            ((childEnd = open(ttyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0 ||
             !makeRaw(childEnd))) {
            close(parentEnd);
            close(childEnd);
            parentEnd = -1;
        }
        int sv[2];
        if (parentEnd < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0) {
            parentEnd = sv[0];
            childEnd = sv[1];
            fcntl(parentEnd, F_SETFL, O_NONBLOCK);
        }
        std::vector<char *> argv;
        for (auto &a : opts_.isp)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int err[2] = {-1, -1}; // its stderr, logged line by line
        if (logFd_ >= 0 && pipe2(err, O_CLOEXEC) == 0)
            fcntl(err[0], F_SETFL, O_NONBLOCK);
        // Signals wait until the child has its default handlers back: ours would write
        // into our signal pipe.
        sigset_t all, old;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &old);
        const pid_t pid = parentEnd < 0 ? -1 : fork();
        if (pid == 0) {
            for (const int sig : handledSignals)
                signal(sig, SIG_DFL);
            signal(SIGPIPE, SIG_DFL);
            sigprocmask(SIG_SETMASK, &old, nullptr);
            setsid();
            dup2(childEnd, 0);
            dup2(childEnd, 1);
            if (err[1] >= 0)
                dup2(err[1], 2);
            execvp(argv[0], argv.data());
            dprintf(2, "cannot run %s: %s\n", argv[0], std::strerror(errno));
            _exit(127);
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        if (err[1] >= 0)
            close(err[1]);
        if (pid < 0) {
            log(std::string("ISP failed: ") + std::strerror(errno));
            for (const int fd : {parentEnd, childEnd, err[0]})
                close(fd);
            return;
        }
        ispErr_ = err[0];
        ispPid_ = pid;
        ispFd_ = parentEnd;
        ispChildEnd_ = childEnd;
        ispReadable_ = true;
        log("ISP started pid " + std::to_string(pid));
    }

    void readIsp()
    {
        char buf[4096];
        const ssize_t n = read(ispFd_, buf, sizeof buf);
        if (n > 0 && farEndSilent_) {
            return; // lost on the way
        } else if (n > 0) {
            bytesOut_ += static_cast<unsigned long long>(n);
            send(std::string(buf, static_cast<size_t>(n)));
            ispSpoke_ = true;
            flushIsp();
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            ispReadable_ = false;
        }
    }

    // With --hold-until-isp the client's bytes wait until the far end has spoken: a pppd
    // that has not yet set up its tty would lose them.
    void flushIsp()
    {
        if (!opts_.holdUntilIsp || ispSpoke_)
            drain(ispFd_, toIsp_, toIspPace_);
    }

    // Closing our end hangs up the ISP program's tty; then SIGTERM to its session, SIGKILL
    // after 2 s, and it is reaped.
    void endIsp()
    {
        for (int *fd : {&ispFd_, &ispChildEnd_})
            if (*fd >= 0)
                close(std::exchange(*fd, -1));
        if (ispPid_ <= 0) {
            readIspErrors(true);
            return;
        }
        int status = 0;
        bool reaped = false;
        for (const int sig : {SIGTERM, SIGKILL}) {
            kill(-ispPid_, sig);
            kill(ispPid_, sig);
            // A far end frozen by a test (SIGSTOP) hears the SIGTERM at once.
            kill(-ispPid_, SIGCONT);
            const auto deadline = Clock::now() + std::chrono::seconds(2);
            while (!(reaped = waitpid(ispPid_, &status, WNOHANG) != 0) && Clock::now() < deadline)
                poll(nullptr, 0, 10);
            if (reaped)
                break;
        }
        readIspErrors(true);
        log("ISP ended " + describeStatus(status));
        ispPid_ = -1;
    }

    // The ISP program's stderr, one log line per line it writes, so that its words never
    // cut into ours. At its end, what is left is read and the pipe closed.
    void readIspErrors(bool last = false)
    {
        char buf[4096];
        ssize_t n = 0;
        while (ispErr_ >= 0 && (n = read(ispErr_, buf, sizeof buf)) > 0) {
            ispErrors_.append(buf, static_cast<size_t>(n));
            for (size_t eol; (eol = ispErrors_.find('\n')) != std::string::npos ||
                             (eol = ispErrors_.size()) > 4096;) {
                log("ISP: " + ispErrors_.substr(0, eol));
                ispErrors_.erase(0, eol + 1);
            }
        }
        if (ispErr_ >= 0 && (last || n == 0 || (errno != EAGAIN && errno != EINTR))) {
            if (!ispErrors_.empty())
                log("ISP: " + std::exchange(ispErrors_, {}));
            close(std::exchange(ispErr_, -1));
        }
    }

    // A hang-up throws away what the client has not read yet: give it up to 200 ms to
    // read what is queued for it.
    void letClientRead()
    {
        const int fd = openSlave();
        int unread = 1;
        for (int k = 0; fd >= 0 && unread > 0 && k < 20; ++k) {
            poll(nullptr, 0, 10);
            if (ioctl(fd, FIONREAD, &unread) != 0)
                break;
        }
        if (fd >= 0)
            close(fd);
    }

    void handleSignals()
    {
        unsigned char sigs[64];
        const ssize_t n = read(signalPipe[0], sigs, sizeof sigs);
        for (ssize_t k = 0; k < n && !quit_; ++k) {
            int status = 0;
            if (sigs[k] == SIGCHLD) {
                // The far end ended the call by itself: what it said last still reaches
                // the client, then NO CARRIER, and the modem is back in command mode.
                if (ispPid_ <= 0 || waitpid(ispPid_, &status, WNOHANG) != ispPid_)
                    continue;
                log("ISP exited " + describeStatus(status));
                ispPid_ = -1;
                for (auto out = bytesOut_ + 1; ispReadable_ && out != bytesOut_;) {
                    out = bytesOut_;
                    readIsp();
                }
                leaveDataMode();
                result("NO CARRIER");
            } else if (sigs[k] == SIGUSR2) {
                goSilent();
            } else if (sigs[k] == SIGUSR1) {
                // Carrier lost: the client reads NO CARRIER and its line hangs up; a fresh
                // line takes the link's name for the next call.
                if (mode_ != Mode::Data) {
                    log("DROP ignored: no call is up");
                    continue;
                }
                send("\r\nNO CARRIER\r\n");
                log("DROP");
                leaveDataMode();
                letClientRead();
                if (!openLine()) {
                    exitStatus_ = 1;
                    quit_ = true;
                }
            } else {
                // SIGTERM, SIGINT, SIGHUP: switched off.
                if (mode_ == Mode::Data)
                    leaveDataMode();
                closeLine();
                log("EXIT on signal " + std::to_string(sigs[k]));
                quit_ = true;
            }
        }
    }

    Options opts_;
    int logFd_ = -1, master_ = -1, exitStatus_ = 0;
    std::string slavePath_;
    bool slaveOpen_ = false, quit_ = false, echo_ = true;
    bool dtrSeenDown_ = false, online_ = false; // online: a call kept in command mode
    Clock::time_point lastData_{};
    std::optional<Clock::time_point> escapeAt_;
    Mode mode_ = Mode::Command;
    std::string typed_, input_, toLine_, toIsp_;
    std::optional<Pending> pending_; // an answer not given yet
    std::string pendingInfo_;        // the text that comes before it (ATI's)
    pid_t ispPid_ = -1;
    int ispFd_ = -1, ispChildEnd_ = -1, ispErr_ = -1;
    std::string ispErrors_;
    bool ispSpoke_ = false, ispReadable_ = false;
    bool farEndSilent_ = false; // after SIGUSR2, until the call ends
    unsigned long long bytesIn_ = 0, bytesOut_ = 0;
    Pacer toLinePace_, toIspPace_; // with --pace, while a call is up
    std::mt19937 rng_{std::random_device{}()};
};

int usage()
{
    std::fputs("usage: modem_emulator --link PATH [--ready FILE] [--log FILE] [--speed N]\n"
               "         [--delay-ms N] [--init ok|error|silent|garbage] [--default RESULT]\n"
               "         [--on NUMBER=RESULT]... [--hold-until-isp] [--dtr-deaf] [--guard-ms N]\n"
               "         [--line-mode OCTAL] [--pace] [--mute] [-- ISP-PROGRAM ARGS...]\n"
               "RESULT: connect|busy|nocarrier|nodialtone|noanswer|error|garbage|silent|vanish\n",
               stderr);
    return 2;
}

std::optional<long> parseCount(const char *s)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < 0)
        return std::nullopt;
    return v;
}

// A file mode in octal, permission bits only.
std::optional<long> parseMode(const char *s)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 8);
    if (errno != 0 || end == s || *end != '\0' || v < 0 || v > 0777)
        return std::nullopt;
    return v;
}

// The option without a value named `name`, or null.
bool *switchNamed(Options &o, std::string_view name)
{
    const std::pair<std::string_view, bool Options::*> switches[] = {
        {"--hold-until-isp", &Options::holdUntilIsp},
        {"--pace", &Options::pace},
        {"--dtr-deaf", &Options::dtrDeaf},
        {"--mute", &Options::mute},
    };
    for (const auto &[switchName, member] : switches) {
        if (name == switchName)
            return &(o.*member);
    }
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--") {
            o.isp.assign(argv + i + 1, argv + argc);
            if (o.isp.empty())
                return usage();
            break;
        }
        if (bool *flag = switchNamed(o, a)) {
            *flag = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const char *v = argv[++i];
        const char *eq = std::strchr(v, '=');
        std::optional<long> n;
        std::optional<Reply> r;
        if (a == "--link") {
            o.link = v;
        } else if (a == "--ready") {
            o.readyFile = v;
        } else if (a == "--log") {
            o.logFile = v;
        } else if (a == "--speed" && (n = parseCount(v)) && *n > 0) {
            o.speed = *n;
        } else if (a == "--line-mode" && (n = parseMode(v))) {
            o.lineMode = static_cast<mode_t>(*n);
        } else if (a == "--guard-ms" && (n = parseCount(v))) {
            o.guardMs = *n;
        } else if (a == "--delay-ms" && (n = parseCount(v))) {
            o.delayMs = *n;
        } else if (a == "--init" && (r = parseReply(v)) &&
                   (*r == Reply::Ok || *r == Reply::Error || *r == Reply::Silent ||
                    *r == Reply::Garbage)) {
            o.init = *r;
        } else if (a == "--default" && (r = parseReply(v)) && *r != Reply::Ok) {
            o.fallback = *r;
        } else if (a == "--on" && eq && (r = parseReply(eq + 1)) && *r != Reply::Ok) {
            o.numbers[normalized(std::string_view(v, static_cast<size_t>(eq - v)))] = *r;
        } else {
            return usage();
        }
    }
    if (o.link.empty())
        return usage();
    return Modem(std::move(o)).run();
}
