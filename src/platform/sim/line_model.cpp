#include "platform/sim/line_model.h"

#include "platform/core/saturating.h"

#include <array>

namespace simline::detail {

namespace {

// The stages a call goes through before it is connected, one stage time each.
constexpr std::array<RASCONNSTATE, 6> kStages = {
    RASCS_OpenPort,        RASCS_PortOpened,   RASCS_ConnectDevice,
    RASCS_DeviceConnected, RASCS_Authenticate, RASCS_Authenticated,
};
constexpr int kConnectDeviceEnd = 3;
constexpr int kAuthenticateEnd = 5;

// The line's own course, hang-up left aside.
CallStatus lineStatus(const Call &call, qint64 atMs)
{
    const SimPart &farEnd = simPart(call);
    const qint64 elapsed = platform::saturatingSub(atMs, call.dialedAtMs);
    const qint64 stage = farEnd.stageMs;
    if (farEnd.outcome != Outcome::Connect && elapsed >= kConnectDeviceEnd * stage)
        return {RASCS_Disconnected, outcomeError(farEnd.outcome)};
    if (!farEnd.accountAccepted && elapsed >= kAuthenticateEnd * stage)
        return {RASCS_Disconnected, ERROR_AUTHENTICATION_FAILURE};
    const qint64 connectedAt = connectedAtMs(call);
    if (connectedAt >= 0 && atMs >= connectedAt) {
        qint64 dropAt =
            farEnd.dropAfterSec > 0
                ? platform::saturatingAdd(connectedAt, farEnd.dropAfterSec * qint64(1000))
                : -1;
        if (farEnd.droppedAtMs >= 0 && (dropAt < 0 || farEnd.droppedAtMs < dropAt))
            dropAt = farEnd.droppedAtMs;
        if (dropAt >= 0 && atMs >= dropAt)
            return {RASCS_Disconnected, ERROR_NO_CARRIER};
        return {RASCS_Connected, 0};
    }
    // A clock set back before the dial shows the call at its very start.
    const qint64 index = elapsed <= 0 || stage <= 0 ? 0 : elapsed / stage;
    return {kStages.at(std::min<qint64>(index, kStages.size() - 1)), 0};
}

// The moment the modems link up, or -1 when they never do.
qint64 linkUpAtMs(const Call &call)
{
    const SimPart &farEnd = simPart(call);
    if (farEnd.outcome != Outcome::Connect)
        return -1;
    return platform::saturatingAdd(call.dialedAtMs, kConnectDeviceEnd * qint64(farEnd.stageMs));
}

quint32 counter(const Call &call, qint64 nowMs, quint32 negotiation, int percentOfSpeed)
{
    const qint64 linkedAt = linkUpAtMs(call);
    if (linkedAt < 0 || nowMs < linkedAt)
        return 0;
    // speed / 8 bytes a second at full load; the line is busy percentOfSpeed
    // of the time: elapsed * speed * percent / 800000 bytes. The product can
    // outgrow 64 bits, but counters wrap around at 32 bits, as the system's
    // own do: the whole periods of 800000 ms are counted apart, modulo 2^64.
    constexpr quint64 period = 800000;
    const quint64 elapsed = static_cast<quint64>(platform::saturatingSub(nowMs, linkedAt));
    const quint64 perPeriod = quint64(call.speed) * quint64(percentOfSpeed);
    const quint64 bytes =
        (elapsed / period) * perPeriod + ((elapsed % period) * perPeriod) / period;
    return static_cast<quint32>(negotiation + bytes);
}

} // namespace

EntrySettings entrySettings(const PhonebookFile &phonebook, const QString &entry)
{
    EntrySettings s;
    s.phoneNumber = phonebook.value(entry, QStringLiteral("PhoneNumber"));
    const QString device = phonebook.value(entry, QStringLiteral("Device")).trimmed();
    if (!device.isEmpty())
        s.deviceName = device;
    const QString type = phonebook.value(entry, QStringLiteral("DeviceType")).trimmed();
    if (!type.isEmpty())
        s.deviceType = type;
    s.simUser = phonebook.value(entry, QStringLiteral("SimUser"));
    s.simPassword = phonebook.value(entry, QStringLiteral("SimPassword"));
    s.speed = static_cast<quint32>(
        phonebook.number(entry, QStringLiteral("SimSpeed"), DefaultSpeed, 1, 0x7fffffff));
    Outcome outcome = Outcome::Connect;
    if (outcomeFromName(phonebook.value(entry, QStringLiteral("SimOutcome")), &outcome))
        s.outcome = outcome;
    // A day is plenty for any stage; the bound keeps the arithmetic far from overflow.
    constexpr qint64 day = 24 * 3600 * 1000;
    s.stageMs = static_cast<int>(
        phonebook.number(entry, QStringLiteral("SimStageMs"), DefaultStageMs, 0, day));
    s.hangUpMs = static_cast<int>(
        phonebook.number(entry, QStringLiteral("SimHangUpMs"), DefaultHangUpMs, 0, day));
    s.dropAfterSec = static_cast<int>(
        phonebook.number(entry, QStringLiteral("SimDropAfterSec"), 0, 0, 366 * 24 * 3600));
    return s;
}

bool accountAccepted(const EntrySettings &settings, const QString &user, const QString &password)
{
    if (settings.simUser.isEmpty())
        return true;
    return user.compare(settings.simUser, Qt::CaseInsensitive) == 0 &&
           password == settings.simPassword;
}

DWORD outcomeError(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Connect:
        return 0;
    case Outcome::Busy:
        return ERROR_LINE_BUSY;
    case Outcome::NoAnswer:
        return ERROR_NO_ANSWER;
    case Outcome::NoDialTone:
        return ERROR_NO_DIALTONE;
    case Outcome::NoCarrier:
        return ERROR_NO_CARRIER;
    }
    return 0;
}

qint64 connectedAtMs(const Call &call)
{
    const SimPart &farEnd = simPart(call);
    if (farEnd.outcome != Outcome::Connect || !farEnd.accountAccepted)
        return -1;
    return platform::saturatingAdd(call.dialedAtMs, qint64(kStages.size()) * farEnd.stageMs);
}

CallStatus callStatus(const Call &call, qint64 nowMs)
{
    if (call.hangUpAtMs >= 0 && nowMs >= call.hangUpAtMs) {
        // A line being closed reads as disconnected; it keeps the error that
        // had already ended it, if any.
        const CallStatus before = lineStatus(call, call.hangUpAtMs);
        return {RASCS_Disconnected, before.state == RASCS_Disconnected ? before.error : 0};
    }
    return lineStatus(call, nowMs);
}

bool linkUp(const Call &call, qint64 nowMs)
{
    const qint64 linkedAt = linkUpAtMs(call);
    return linkedAt >= 0 && nowMs >= linkedAt &&
           callStatus(call, nowMs).state != RASCS_Disconnected;
}

quint32 bytesReceived(const Call &call, qint64 nowMs)
{
    return counter(call, nowMs, 312, 55);
}

quint32 bytesSent(const Call &call, qint64 nowMs)
{
    return counter(call, nowMs, 248, 12);
}

} // namespace simline::detail
