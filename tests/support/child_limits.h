#pragma once

#include <QElapsedTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

// What a step run by finishesInChild may take.
struct ChildLimits
{
    // How long the step may run before the child is killed.
    int milliseconds = 2000;
    // The child's address space in bytes, 0 for no limit: a step that reads
    // without end then fails for want of memory instead of filling the
    // machine's. Not applied under AddressSanitizer, which reserves far more.
    rlim_t addressSpace = 0;
};

// Runs `step` in a child process: true when it returns true within the
// limits. A step that waits forever, crashes or runs out of its memory fails
// instead of stopping the whole test.
template <typename Step> bool finishesInChild(Step step, ChildLimits limits = {})
{
    const pid_t child = fork();
    if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__)
        rlimit memory{};
        if (limits.addressSpace != 0 && getrlimit(RLIMIT_AS, &memory) == 0) {
            // Never above a limit the test already runs under.
            if (memory.rlim_max > limits.addressSpace)
                memory.rlim_max = limits.addressSpace;
            memory.rlim_cur = memory.rlim_max;
            if (setrlimit(RLIMIT_AS, &memory) != 0)
                _exit(1);
        }
#endif
        // Nothing may leave the child but its exit code: an exception would
        // otherwise run the rest of the test a second time in here.
        bool passed = false;
        try {
            passed = step();
        } catch (...) {
            passed = false;
        }
        _exit(passed ? 0 : 1);
    }
    if (child < 0)
        return false;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        // A child whose end cannot be seen (reaped elsewhere) has not passed.
        if (ended < 0 && errno != EINTR)
            return false;
        if (clock.hasExpired(limits.milliseconds)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return false;
        }
        usleep(5000);
    }
}
