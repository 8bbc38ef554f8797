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

    // Drops DTR for a moment, which makes a modem hang up, then closes the
    // port and removes its lock.
    void hangUpAndClose();

private:
    DWORD lock(const QString &canonicalDevice);
    void unlock();

    int m_fd = -1;
    QString m_lockPath;
};

} // namespace modem
