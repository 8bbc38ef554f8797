#include "platform/line/call_json.h"

#include "platform/line/line.h"

#include <QJsonObject>

#include <utility>

using namespace Qt::StringLiterals;

namespace line {

namespace {

// The texts every call has, by their keys in line.json.
constexpr std::pair<QStringView, QString Call::*> kTexts[] = {
    {u"entry", &Call::entry},
    {u"deviceName", &Call::deviceName},
    {u"deviceType", &Call::deviceType},
    {u"userName", &Call::userName},
    {u"phoneNumber", &Call::phoneNumber},
    {u"callbackNumber", &Call::callbackNumber},
    {u"domain", &Call::domain},
};

} // namespace

qint64 moment(const QJsonObject &o, const QString &key)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble() || !(v.toDouble() >= 0))
        return -1;
    return v.toDouble() > double(MaxTimeMs) ? MaxTimeMs : bounded(o, key, -1, 0, MaxTimeMs);
}

QJsonObject callToJson(const Call &c)
{
    QJsonObject o{
        {u"handle"_s, qint64(c.handle)},
        {u"kind"_s, kindName(c.kind)},
        {u"dialedAtMs"_s, c.dialedAtMs},
        {u"speed"_s, qint64(c.speed)},
    };
    for (const auto &[key, text] : kTexts)
        o.insert(key, c.*text);
    if (c.hangUpAtMs >= 0)
        o.insert(u"hangUpAtMs"_s, c.hangUpAtMs);
    if (c.closeAtMs >= 0)
        o.insert(u"closeAtMs"_s, c.closeAtMs);
    lineOf(c.kind).writeCall(c, &o);
    return o;
}

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

std::optional<Call> callFromJson(const QJsonObject &o)
{
    Call c;
    const qint64 handle = bounded(o, u"handle"_s, 0, 1, 0xFFFFFFFEll);
    const qint64 dialedAt = bounded(o, u"dialedAtMs"_s, -1, 0, MaxTimeMs);
    if (handle == 0 || dialedAt < 0)
        return std::nullopt;
    c.handle = static_cast<HRASCONN>(handle);
    c.dialedAtMs = dialedAt;
    c.kind = kindFromName(o.value(u"kind"_s).toString());
    for (const auto &[key, text] : kTexts)
        c.*text = o.value(key).toString();
    const qint64 defaultSpeed = c.kind == Kind::Modem ? 0 : DefaultSpeed;
    c.speed = static_cast<quint32>(bounded(o, u"speed"_s, defaultSpeed, 0, MaxSpeed));
    c.hangUpAtMs = moment(o, u"hangUpAtMs"_s);
    c.closeAtMs = moment(o, u"closeAtMs"_s);
    if (!lineOf(c.kind).readCall(o, &c))
        return std::nullopt;
    return c;
}

} // namespace line
