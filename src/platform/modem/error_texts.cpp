// A modem call's errors in words that say what to do about them: the
// device, the account's groups, pppd and its options, the kernel's PPP.

#include "platform/modem/modem_line.h"

#include <QHash>

namespace modem {

const char *errorText(DWORD code)
{
    static const QHash<DWORD, const char *> texts = {
        {604, "Wrong information specified: the user name, the number or the entry's modem "
              "settings hold characters that cannot be dialed."},
        {608, "The device does not exist: check that the modem is plugged in and that the entry's "
              "Device= names it."},
        {649, "Your account may not run pppd: add it to the dip group (sudo adduser $USER dip), "
              "then log in again."},
        {663, "The device type is unknown: the entry's Device= is not a serial port."},
        {665, "The port is not configured for Remote Access: your account may not open the modem. "
              "Add it to the dialout group (sudo adduser $USER dialout), then log in again."},
        {666, "The modem (or other connecting device) is not functioning: it does not answer its "
              "commands."},
        {667, "Cannot read the pppd options: /etc/ppp/peers/vantelo (or the file the entry's Peer= "
              "names) is missing or invalid. Install it from Vantelo's source folder with: sudo "
              "cmake --install build --component ppp-peers"},
        {711, "The PPP service could not start: pppd is missing or failed. Install the ppp package "
              "(sudo apt install ppp)."},
        {720, "This system's kernel has no PPP support (pppd cannot open /dev/ppp): load the "
              "ppp_async module (sudo modprobe ppp_async) or use a kernel built with PPP."},
    };
    return texts.value(code, nullptr);
}

} // namespace modem
