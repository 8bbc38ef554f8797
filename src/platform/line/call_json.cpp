#include "platform/line/call_json.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace line {

namespace {

QString kindName(Kind kind)
{
    return kind == Kind::Modem ? u"modem"_s : u"simulated"_s;
}

// A moment of the call: absent (-1) when missing or negative, at most MaxTimeMs.
qint64 moment(const QJsonObject &o, const QString &key)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble() || !(v.toDouble() >= 0))
        return -1;
    return v.toDouble() > double(MaxTimeMs) ? MaxTimeMs : bounded(o, key, -1, 0, MaxTimeMs);
}

bool knownState(qint64 state)
{
    return (state >= RASCS_OpenPort && state <= RASCS_LogonNetwork) ||
           (state >= RASCS_Interactive && state <= RASCS_PasswordExpired) ||
           state == RASCS_Connected || state == RASCS_Disconnected;
}

} // namespace

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
        if (!c.errorWords.isEmpty())
            o.insert(u"errorWords"_s, c.errorWords);
        if (c.pppdPid > 0)
            o.insert(u"pppdPid"_s, c.pppdPid);
    }
    return o;
}

// An integer of the object within [minimum, maximum]; `fallback` when it is
// missing, not a number or outside.
qint64 bounded(const QJsonObject &o, const QString &key, qint64 fallback, qint64 minimum,
               qint64 maximum)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble())
        return fallback;
    const double d = v.toDouble();
    // Compared as doubles first: a huge value must not reach the conversion.
    if (!(d >= double(minimum) && d <= double(maximum)))
        return fallback;
    const qint64 n = v.toInteger(fallback);
    return n >= minimum && n <= maximum ? n : fallback;
}

// The call an object of line.json describes, or nothing when it is nonsense.
std::optional<Call> callFromJson(const QJsonObject &o)
{
    Call c;
    const qint64 handle = bounded(o, u"handle"_s, 0, 1, 0xFFFFFFFEll);
    const qint64 dialedAt = bounded(o, u"dialedAtMs"_s, -1, 0, MaxTimeMs);
    if (handle == 0 || dialedAt < 0)
        return std::nullopt;
    c.handle = static_cast<HRASCONN>(handle);
    c.dialedAtMs = dialedAt;
    c.kind = o.value(u"kind"_s).toString() == u"modem"_s ? Kind::Modem : Kind::Simulated;
    c.entry = o.value(u"entry"_s).toString();
    c.deviceName = o.value(u"deviceName"_s).toString();
    c.deviceType = o.value(u"deviceType"_s).toString();
    c.userName = o.value(u"userName"_s).toString();
    c.phoneNumber = o.value(u"phoneNumber"_s).toString();
    c.callbackNumber = o.value(u"callbackNumber"_s).toString();
    c.domain = o.value(u"domain"_s).toString();
    const qint64 defaultSpeed = c.kind == Kind::Modem ? 0 : DefaultSpeed;
    c.speed = static_cast<quint32>(bounded(o, u"speed"_s, defaultSpeed, 0, MaxSpeed));
    c.hangUpAtMs = moment(o, u"hangUpAtMs"_s);
    c.closeAtMs = moment(o, u"closeAtMs"_s);
    c.stageMs = static_cast<int>(bounded(o, u"stageMs"_s, DefaultStageMs, 0, MaxStageMs));
    if (!simline::outcomeFromName(o.value(u"outcome"_s).toString(), &c.outcome))
        c.outcome = simline::Outcome::Connect;
    c.accountAccepted = o.value(u"accountAccepted"_s).toBool(true);
    c.dropAfterSec = static_cast<int>(bounded(o, u"dropAfterSec"_s, 0, 0, MaxDropAfterSec));
    c.hangUpMs = static_cast<int>(bounded(o, u"hangUpMs"_s, DefaultHangUpMs, 0, MaxStageMs));
    c.droppedAtMs = moment(o, u"droppedAtMs"_s);
    // A pid of 0 is "not reported yet"; anything else outside the kernel's
    // range would make a signal reach other processes than the call's.
    c.pid = bounded(o, u"pid"_s, 0, 1, MaxPid);
    const qint64 state = bounded(o, u"state"_s, RASCS_OpenPort, 0, 0xFFFFFFFFll);
    if (!knownState(state))
        return std::nullopt;
    c.state = static_cast<RASCONNSTATE>(state);
    const qint64 error = bounded(o, u"error"_s, 0, 0, 0xFFFFFFFFll);
    c.error =
        static_cast<DWORD>(error == 0 || (error >= 600 && error <= 799) ? error : ERROR_UNKNOWN);
    c.finished = o.value(u"finished"_s).toBool();
    c.interfaceName = o.value(u"interface"_s).toString();
    // Words are shown in a 256-byte buffer: anything longer is not ours.
    c.errorWords = o.value(u"errorWords"_s).toString().left(255);
    c.pppdPid = bounded(o, u"pppdPid"_s, 0, 1, MaxPid);
    return c;
}

} // namespace line
