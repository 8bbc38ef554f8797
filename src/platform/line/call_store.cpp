#include "platform/line/call_store.h"

#include "platform/lines.h"
#include "platform/paths.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace line {

namespace {

constexpr auto kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString kindName(Kind kind)
{
    return kind == Kind::Modem ? u"modem"_s : u"simulated"_s;
}

QJsonObject callToJson(const Call &c)
{
    QJsonObject o{
        {u"handle"_s, qint64(c.handle)},
        {u"kind"_s, kindName(c.kind)},
        {u"entry"_s, c.entry},
        {u"deviceName"_s, c.deviceName},
        {u"deviceType"_s, c.deviceType},
        {u"userName"_s, c.userName},
        {u"phoneNumber"_s, c.phoneNumber},
        {u"callbackNumber"_s, c.callbackNumber},
        {u"domain"_s, c.domain},
        {u"dialedAtMs"_s, c.dialedAtMs},
        {u"speed"_s, qint64(c.speed)},
    };
    if (c.hangUpAtMs >= 0)
        o.insert(u"hangUpAtMs"_s, c.hangUpAtMs);
    if (c.closeAtMs >= 0)
        o.insert(u"closeAtMs"_s, c.closeAtMs);
    if (c.kind == Kind::Simulated) {
        o.insert(u"stageMs"_s, c.stageMs);
        o.insert(u"outcome"_s, simline::outcomeName(c.outcome));
        o.insert(u"accountAccepted"_s, c.accountAccepted);
        o.insert(u"dropAfterSec"_s, c.dropAfterSec);
        o.insert(u"hangUpMs"_s, c.hangUpMs);
        if (c.droppedAtMs >= 0)
            o.insert(u"droppedAtMs"_s, c.droppedAtMs);
    } else {
        o.insert(u"pid"_s, c.pid);
        o.insert(u"state"_s, qint64(c.state));
        o.insert(u"error"_s, qint64(c.error));
        o.insert(u"finished"_s, c.finished);
        o.insert(u"interface"_s, c.interfaceName);
    }
    return o;
}

Call callFromJson(const QJsonObject &o)
{
    Call c;
    c.handle = static_cast<HRASCONN>(o.value(u"handle"_s).toInteger());
    c.kind = o.value(u"kind"_s).toString() == u"modem"_s ? Kind::Modem : Kind::Simulated;
    c.entry = o.value(u"entry"_s).toString();
    c.deviceName = o.value(u"deviceName"_s).toString();
    c.deviceType = o.value(u"deviceType"_s).toString();
    c.userName = o.value(u"userName"_s).toString();
    c.phoneNumber = o.value(u"phoneNumber"_s).toString();
    c.callbackNumber = o.value(u"callbackNumber"_s).toString();
    c.domain = o.value(u"domain"_s).toString();
    c.dialedAtMs = o.value(u"dialedAtMs"_s).toInteger();
    c.speed = static_cast<quint32>(o.value(u"speed"_s).toInteger(DefaultSpeed));
    c.hangUpAtMs = o.value(u"hangUpAtMs"_s).toInteger(-1);
    c.closeAtMs = o.value(u"closeAtMs"_s).toInteger(-1);
    c.stageMs = o.value(u"stageMs"_s).toInt(DefaultStageMs);
    if (!simline::outcomeFromName(o.value(u"outcome"_s).toString(), &c.outcome))
        c.outcome = simline::Outcome::Connect;
    c.accountAccepted = o.value(u"accountAccepted"_s).toBool(true);
    c.dropAfterSec = o.value(u"dropAfterSec"_s).toInt();
    c.hangUpMs = o.value(u"hangUpMs"_s).toInt(DefaultHangUpMs);
    c.droppedAtMs = o.value(u"droppedAtMs"_s).toInteger(-1);
    c.pid = o.value(u"pid"_s).toInteger();
    c.state = static_cast<RASCONNSTATE>(o.value(u"state"_s).toInteger(RASCS_OpenPort));
    c.error = static_cast<DWORD>(o.value(u"error"_s).toInteger());
    c.finished = o.value(u"finished"_s).toBool();
    c.interfaceName = o.value(u"interface"_s).toString();
    return c;
}

} // namespace

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

LineLock::LineLock()
{
    const QByteArray path = QFile::encodeName(platform::runtimeFolder() + u"/line.lock"_s);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

LineLock::~LineLock()
{
    // Closing the descriptor releases the lock.
    if (m_fd >= 0)
        ::close(m_fd);
}

QString lineStatePath()
{
    return platform::runtimeFolder() + u"/line.json"_s;
}

LineState readLineState()
{
    LineState state;
    QFile file(lineStatePath());
    if (!file.open(QIODevice::ReadOnly))
        return state;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    const qint64 next = root.value(u"nextHandle"_s).toInteger();
    if (next > 0 && next < 0xFFFFFFFFll)
        state.nextHandle = static_cast<HRASCONN>(next);
    const QJsonArray calls = root.value(u"calls"_s).toArray();
    for (const QJsonValue &v : calls) {
        const Call c = callFromJson(v.toObject());
        if (c.handle != 0)
            state.calls.append(c);
    }
    state.nextHangUpDelayMs = root.value(u"nextHangUpDelayMs"_s).toInt(-1);
    const QJsonValue forced = root.value(u"forcedOutcome"_s);
    if (forced.isString())
        state.outcomeForced = simline::outcomeFromName(forced.toString(), &state.forcedOutcome);
    return state;
}

bool writeLineState(LineState state, qint64 nowMs)
{
    QJsonArray calls;
    for (const Call &c : std::as_const(state.calls)) {
        if (!callClosed(c, nowMs))
            calls.append(callToJson(c));
    }
    QJsonObject root{{u"nextHandle"_s, qint64(state.nextHandle)}, {u"calls"_s, calls}};
    if (state.nextHangUpDelayMs >= 0)
        root.insert(u"nextHangUpDelayMs"_s, state.nextHangUpDelayMs);
    if (state.outcomeForced)
        root.insert(u"forcedOutcome"_s, simline::outcomeName(state.forcedOutcome));
    return saveAtomically(lineStatePath(), QJsonDocument(root).toJson(QJsonDocument::Indented));
}

bool callClosed(const Call &call, qint64 nowMs)
{
    return call.closeAtMs >= 0 && nowMs >= call.closeAtMs;
}

Call *findCall(QList<Call> &calls, HRASCONN handle, qint64 nowMs)
{
    for (Call &call : calls) {
        if (call.handle == handle && !callClosed(call, nowMs))
            return &call;
    }
    return nullptr;
}

const Call *findCall(const QList<Call> &calls, HRASCONN handle, qint64 nowMs)
{
    for (const Call &call : calls) {
        if (call.handle == handle && !callClosed(call, nowMs))
            return &call;
    }
    return nullptr;
}

QList<Call> openCalls(const LineState &state, qint64 nowMs)
{
    QList<Call> open;
    for (const Call &c : state.calls) {
        if (!callClosed(c, nowMs))
            open.append(c);
    }
    return open;
}

namespace {

struct DialedPasswords
{
    QMutex mutex;
    QHash<HRASCONN, QString> byHandle;
};

DialedPasswords &dialedPasswords()
{
    static DialedPasswords passwords;
    return passwords;
}

} // namespace

void rememberDialedPassword(HRASCONN handle, const QString &password)
{
    DialedPasswords &p = dialedPasswords();
    QMutexLocker locker(&p.mutex);
    p.byHandle.insert(handle, password);
}

QString dialedPassword(HRASCONN handle)
{
    DialedPasswords &p = dialedPasswords();
    QMutexLocker locker(&p.mutex);
    return p.byHandle.value(handle);
}

bool readPhonebook(PhonebookFile *phonebook)
{
    lines::ensurePhonebook();
    QFile file(lines::phonebookPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *phonebook = PhonebookFile::parse(file.readAll());
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
        "; The file is read again at every request, so edits take effect at the next dial.\n"
        ";\n"
        "; An entry whose Device= names a device file (/dev/ttyACM0, /dev/ttyUSB0,\n"
        "; /dev/ttyS0...) is dialed on that real modem; pppd then brings the network up.\n"
        ";   Device=/dev/ttyACM0     the modem's serial port\n"
        ";   Speed=115200            the port's speed in bits per second\n"
        ";   Init=ATZ                the command that resets the modem before dialing\n"
        ";   Timeout=60              seconds to wait for the far end to answer\n"
        ";   Peer=vantelo            the pppd options file in /etc/ppp/peers\n"
        "; Any other entry is dialed on Vantelo's simulated line, whose far end\n"
        "; behaves as the entry says:\n"
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Set on the temporary file, so the content is never readable by others.
    file.setPermissions(kPrivate);
    return file.write(bytes) == bytes.size() && file.commit() &&
           QFile::setPermissions(path, kPrivate);
}

} // namespace line
