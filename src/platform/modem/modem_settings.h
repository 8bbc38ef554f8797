#pragma once

// A modem entry of the phonebook and the checks its texts pass before any of
// them reaches the modem or pppd.
//
//   Device=/dev/ttyACM0   the modem's serial port (a device file; symlinks followed;
//                         a bare name is below /dev: ttyACM0)
//   Speed=115200          the port's speed in bits per second
//   Init=ATZ              the command that resets the modem before dialing
//   Timeout=60            seconds to wait for the dial's answer
//   Peer=vantelo          the pppd options file in /etc/ppp/peers

#include "platform/line/phonebook_file.h"

#include <QString>

namespace modem {

inline constexpr int DefaultSpeed = 115200;
inline constexpr int DefaultTimeoutSec = 60;
inline const QString DefaultInit = QStringLiteral("ATZ");
inline const QString DefaultPeer = QStringLiteral("vantelo");

struct ModemSettings
{
    QString device;
    int speed = DefaultSpeed;
    QString init = DefaultInit;
    int timeoutSec = DefaultTimeoutSec;
    QString peer = DefaultPeer;
};

// The longest values a modem entry may give: a device's path, and the reset
// command and peer name (one modem command line, one file name).
inline constexpr qsizetype MaxDeviceLength = 4095;
inline constexpr qsizetype MaxInitLength = 255;
inline constexpr qsizetype MaxPeerLength = 255;

// The entry's settings, with the defaults for missing or unreadable values.
ModemSettings modemSettings(const line::PhonebookFile &phonebook, const QString &entry);

// A number the modem can dial: digits and the dial modifiers of the Hayes
// command set (* # + , W @ ! A-D, blanks, - ( ) .), after an optional T or P
// that picks tone or pulse. Anything else (a ';', a line break, another
// command) would let the number speak to the modem.
bool isDialableNumber(const QString &number);

// The dial command for a number as dialed: "ATDP" + the rest for a number
// with the "P" prefix of pulse dialing, "ATDT" + the number otherwise.
QString dialCommand(const QString &number);

// Texts that pppd receives as the value of an option: not empty where one is
// needed, no control characters, and never beginning with '-', so no text can
// pass for another option. A peer name is also a plain file name.
bool isSafeUserName(const QString &user);
bool isSafePeerName(const QString &peer);
// Modem commands: printable ASCII only, one command line.
bool isSafeModemCommand(const QString &command);

// The lock file name that pppd, minicom and the other programs that share
// serial ports use for a device: "LCK.." and the path below /dev with its
// slashes turned into '_' ("/dev/ttyUSB0" → "LCK..ttyUSB0",
// "/dev/pts/3" → "LCK..pts_3").
QString lockFileName(const QString &devicePath);

} // namespace modem
