#pragma once

// The single-instance guard's calls to the system, one implementation per
// system: gui/single_instance_unix.cpp, win/win_gui_single_instance.cpp.

#include "platform/single_instance.h"

#include <QString>
#include <QtGlobal>

#include <memory>

class QDeadlineTimer;

namespace platform {

// The first start's listening end, serving the requests of later starts.
class InstanceListener
{
public:
    virtual ~InstanceListener() = default;
    // Listens at path (removing one left by an earlier first start); false
    // with `error` set when it cannot.
    virtual bool listen(const QString &path, QString *error) = 0;
};

namespace instance {

// What a later start sends: one line.
inline constexpr char ShowRequest[] = "show\n";
// A request line is short; a peer that sends more without a line end is cut off.
inline constexpr qint64 RequestLimit = 64;

// The value of a lock file not open.
qintptr noLock();
// Opens (creating it, private to the user) the lock file; noLock() on
// failure with `error` set.
qintptr openLockFile(const QString &path, QString *error);
// Takes the lock without waiting; false when another process holds it.
bool lockWithoutWaiting(qintptr lock);
void closeLockFile(qintptr lock);
// Sends the request to the first start; false with `error` set when it
// cannot be reached by `deadline`.
bool sendShowRequest(const QString &path, const QDeadlineTimer &deadline, QString *error);
// The listener that emits owner's showRequested() for each request.
std::unique_ptr<InstanceListener> makeListener(SingleInstance *owner);

} // namespace instance

} // namespace platform
