#include "platform/line/call_store.h"

// The default phonebook as the lines read and write it, and its sample.

#include "platform/core/bounded_read.h"
#include "platform/lines.h"
#include "platform/save_file.h"

#include <QFile>

namespace line {

namespace {

constexpr auto kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

bool readPhonebook(PhonebookFile *phonebook)
{
    lines::ensurePhonebook();
    // Never a wait on a named pipe nor a read without end: only a regular file
    // of a sane size is a phonebook.
    const platform::BoundedRead file =
        platform::readBounded(lines::phonebookPath(), platform::PhonebookReadLimit);
    if (!file.read())
        return false;
    *phonebook = PhonebookFile::parse(file.data);
    return true;
}

bool writePhonebook(const PhonebookFile &phonebook)
{
    return saveAtomically(lines::phonebookPath(), phonebook.serialize());
}

QByteArray samplePhonebook()
{
    return QByteArrayLiteral(
        "; Vantelo's phonebook, one [section] per entry. Vantelo dials the first one.\n"
        "; Vantelo lists the entries when its window opens: a new, removed or reordered\n"
        "; entry is taken at its next start. An entry's keys are read again at every\n"
        "; request, so edits of them take effect at the next dial.\n"
        ";\n"
        "; An entry with Device=Vantelo Simulated Modem is dialed on Vantelo's simulated\n"
        "; line. Any other entry is dialed on the real modem its Device= names\n"
        "; (/dev/ttyACM0, /dev/ttyUSB0, /dev/ttyS0..., or a bare name below /dev such as\n"
        "; ttyACM0); pppd then brings the network up.\n"
        ";   Device=/dev/ttyACM0     the modem's serial port\n"
        ";   Speed=115200            the port's speed in bits per second\n"
        ";   Init=ATZ                the command that resets the modem before dialing\n"
        ";   Timeout=60              seconds to wait for the far end to answer\n"
        ";   Peer=vantelo            the pppd options file in /etc/ppp/peers\n"
        "; The simulated line's far end behaves as the entry says:\n"
        ";   SimUser=, SimPassword=  the account the server accepts (no SimUser: any account)\n"
        ";   SimSpeed=28800          the connect speed in bits per second\n"
        ";   SimOutcome=connect      connect | busy | noanswer | nodialtone | nocarrier\n"
        ";   SimStageMs=400          how long each stage of the call takes, in milliseconds\n"
        ";   SimHangUpMs=300         how long the line takes to close after a hang-up\n"
        ";   SimDropAfterSec=0       the line drops by itself after so many seconds up\n"
        ";                           (0: never)\n"
        "; The Dial* keys hold the dial parameters stored for the entry: DialUserName=,\n"
        "; DialPassword=, DialPasswordStored=0|1, DialDomain=, DialCallbackNumber=.\n"
        "\n"
        "[Vantelo Demo]\n"
        "PhoneNumber=0860\n"
        "Device=Vantelo Simulated Modem\n"
        "SimUser=demo\n"
        "SimPassword=demo\n"
        "SimSpeed=28800\n"
        "SimOutcome=connect\n"
        "SimStageMs=400\n"
        "SimHangUpMs=300\n"
        "SimDropAfterSec=0\n"
        "DialUserName=demo\n"
        "DialPasswordStored=0\n"
        "\n"
        "[Vantelo Busy Line]\n"
        "PhoneNumber=0861\n"
        "Device=Vantelo Simulated Modem\n"
        "SimOutcome=busy\n"
        "\n"
        "; A real modem: remove the semicolons and put the entry first to dial it.\n"
        "; [My ISP]\n"
        "; PhoneNumber=0860123456\n"
        "; Device=/dev/ttyACM0\n"
        "; Speed=115200\n"
        "; Init=ATZ\n"
        "; Timeout=60\n"
        "; Peer=vantelo\n");
}

bool saveAtomically(const QString &path, const QByteArray &bytes)
{
    return platform::replaceFile(path, bytes, {.permissions = kPrivate, .onDisk = true}) &&
           QFile::setPermissions(path, kPrivate);
}

} // namespace line
