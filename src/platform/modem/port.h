#pragma once

// A modem's serial port, opened for one call: locked the way pppd and the
// terminal programs lock ports (a LCK.. file holding our pid), opened
// exclusively, in raw mode at the entry's speed, with hardware flow control
// where the device has modem lines.

#include "platform/wintypes.h"

#include <QString>

namespace modem {

// Where the lock files of serial ports are: /run/lock, else /var/lock.
// VANTELO_LOCK_DIR names another folder (the tests' own).
QString lockFolder();

// Whether a process runs: it exists and is not a zombie that nobody reaped.
bool processRunning(int pid);

class Port final
{
public:
    Port() = default;
    ~Port();
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    // Returns 0, or the service's error: the device is missing (608), not a
    // serial port (663), in use (633), not ours to open (665), or broken (630).
    DWORD open(const QString &device, int speed);
    int fd() const { return m_fd; }

    // Writes another pid into the port's lock (pppd's, while it has the line).
    void handLockTo(int pid);

    // What went wrong with the port's lock or its opening, in words naming
    // it; empty when the error's own text says it all.
    QString problem() const { return m_problem; }

    // Drops DTR for a moment, which makes a modem hang up, then closes the
    // port and removes its lock. With `online` (a call was up) the carrier
    // must go: a modem that ignores DTR is sent the escape and ATH, and one
    // that stays off-hook is told in problem().
    void hangUpAndClose(bool online = false);

    // How long an empty or unreadable lock counts as held: its owner may be
    // between creating it and writing its pid.
    static constexpr int kEmptyLockGraceSec = 10;
    // The silence before and after the escape, a little over a modem's usual 1 s.
    static constexpr int kGuardMs = 1100;

private:
    struct LockHolder
    {
        bool held = false;
        QString why; // "%1" stands for the lock's path
    };
    DWORD lock(const QString &canonicalDevice);
    static LockHolder readLock(const QByteArray &file);
    bool carrierGone(bool hasModemLines);
    void unlock();

    int m_fd = -1;
    QString m_lockPath;
    QString m_problem;
};

} // namespace modem
