#pragma once

// A call's record in line.json, both ways: the part every call has, and the
// part its kind of line writes and reads itself (Line::writeCall()). Every
// value read is checked: a call whose handle, time or own part is nonsense is
// no call, and other values outside their range are brought back to it.

#include "platform/line/call_store.h"

#include <QJsonObject>

#include <optional>

namespace line {

QJsonObject callToJson(const Call &c);
// The call an object of line.json describes, or nothing when it is nonsense.
std::optional<Call> callFromJson(const QJsonObject &o);
// An integer of the object within [minimum, maximum]; `fallback` when it is
// missing, not a number or outside.
qint64 bounded(const QJsonObject &o, const QString &key, qint64 fallback, qint64 minimum,
               qint64 maximum);
// A moment of the call: absent (-1) when missing or negative, at most MaxTimeMs.
qint64 moment(const QJsonObject &o, const QString &key);

} // namespace line
