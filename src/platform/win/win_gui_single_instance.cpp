// The single-instance guard on Windows: the lock is a file locked with
// LockFileEx, and the first start listens on a named pipe only the user can
// open, served on the program's own event loop (overlapped reads, their event
// watched by a QWinEventNotifier).

#include "platform/gui/instance_system.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QWinEventNotifier>
#include <windows.h>
// After <windows.h>, which it needs.
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace platform::instance {

namespace {

QString errorText(DWORD code)
{
    return u"error %1"_s.arg(code);
}

QString lastError()
{
    return errorText(GetLastError());
}

// The pipe's name: the socket path as the pipe file system's (a pipe's name
// may hold any character but the backslash).
std::wstring pipeName(const QString &path)
{
    return (u"\\\\.\\pipe\\"_s + QDir::fromNativeSeparators(path)).toStdWString();
}

// A security descriptor that lets only this process's user open the pipe.
PSECURITY_DESCRIPTOR userOnlyDescriptor(QString *error)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        *error = lastError();
        return nullptr;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> user(size);
    LPWSTR sid = nullptr;
    const bool named =
        size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid, &sid);
    if (!named)
        *error = lastError();
    CloseHandle(token);
    if (!named)
        return nullptr;
    const std::wstring sddl = L"D:P(A;;GA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        *error = lastError();
        return nullptr;
    }
    return descriptor;
}

// One pipe instance, taking one later start at a time: it waits for a
// connection, reads its request, then lets it go and waits for the next.
class Listener final : public InstanceListener
{
public:
    explicit Listener(SingleInstance *owner) : m_owner(owner) {}

    ~Listener() override
    {
        m_notifier.reset();
        if (m_pipe != INVALID_HANDLE_VALUE) {
            // The operation pending refers to this object: it ends before it goes.
            DWORD unused = 0;
            if (CancelIoEx(m_pipe, &m_overlapped) || GetLastError() != ERROR_NOT_FOUND)
                GetOverlappedResult(m_pipe, &m_overlapped, &unused, TRUE);
            CloseHandle(m_pipe);
        }
        if (m_overlapped.hEvent)
            CloseHandle(m_overlapped.hEvent);
    }

    bool listen(const QString &path, QString *error) override
    {
        // A pipe goes with the process that made it: none is left by an
        // earlier first start. One already there belongs to another process,
        // which is refused the name (FILE_FLAG_FIRST_PIPE_INSTANCE).
        PSECURITY_DESCRIPTOR descriptor = userOnlyDescriptor(error);
        if (!descriptor)
            return false;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        m_pipe = CreateNamedPipeW(
            pipeName(path).c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
            static_cast<DWORD>(RequestLimit), 0, &attributes);
        if (m_pipe == INVALID_HANDLE_VALUE)
            *error = lastError();
        LocalFree(descriptor);
        if (m_pipe == INVALID_HANDLE_VALUE)
            return false;
        m_overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!m_overlapped.hEvent) {
            *error = lastError();
            return false;
        }
        m_notifier = std::make_unique<QWinEventNotifier>(m_overlapped.hEvent);
        QObject::connect(m_notifier.get(), &QWinEventNotifier::activated, m_owner,
                         [this] { completed(); });
        waitForConnection();
        return true;
    }

private:
    enum class State { Connecting, Connected, Reading, Stopped };

    void waitForConnection()
    {
        m_request.clear();
        m_state = State::Connecting;
        ResetEvent(m_overlapped.hEvent);
        if (ConnectNamedPipe(m_pipe, &m_overlapped))
            return; // its event is set
        switch (GetLastError()) {
        case ERROR_IO_PENDING:
            return;
        case ERROR_PIPE_CONNECTED: // came between the last call and this one
        case ERROR_NO_DATA:        // came, wrote and went: what it wrote is read
            m_state = State::Connected;
            SetEvent(m_overlapped.hEvent);
            return;
        default: // the pipe is broken: no later start is served
            m_state = State::Stopped;
            m_notifier->setEnabled(false);
            return;
        }
    }

    void readMore()
    {
        m_state = State::Reading;
        ResetEvent(m_overlapped.hEvent);
        if (!ReadFile(m_pipe, m_buffer, static_cast<DWORD>(RequestLimit - m_request.size()),
                      nullptr, &m_overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            letGo();
        }
    }

    // The operation pending ended (its event is set).
    void completed()
    {
        DWORD got = 0;
        switch (m_state) {
        case State::Stopped:
            return;
        case State::Connected:
            readMore();
            return;
        case State::Connecting:
            if (GetOverlappedResult(m_pipe, &m_overlapped, &got, FALSE))
                readMore();
            else
                letGo();
            return;
        case State::Reading:
            break;
        }
        const bool more = GetOverlappedResult(m_pipe, &m_overlapped, &got, FALSE);
        m_request.append(m_buffer, static_cast<qsizetype>(got));
        qsizetype end;
        while ((end = m_request.indexOf('\n')) >= 0) {
            if (m_request.left(end).trimmed() == "show")
                emit m_owner->showRequested();
            m_request.remove(0, end + 1);
        }
        // The sender is gone, or it sends more than a request without a line end.
        if (!more || m_request.size() >= RequestLimit)
            letGo();
        else
            readMore();
    }

    void letGo()
    {
        DisconnectNamedPipe(m_pipe);
        waitForConnection();
    }

    SingleInstance *m_owner;
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED m_overlapped{};
    std::unique_ptr<QWinEventNotifier> m_notifier;
    char m_buffer[RequestLimit];
    QByteArray m_request;
    State m_state = State::Connecting;
};

} // namespace

qintptr noLock()
{
    return reinterpret_cast<qintptr>(INVALID_HANDLE_VALUE);
}

qintptr openLockFile(const QString &path, QString *error)
{
    const HANDLE file = CreateFileW(
        reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        *error = lastError();
    return reinterpret_cast<qintptr>(file);
}

bool lockWithoutWaiting(qintptr lock)
{
    OVERLAPPED at{};
    return LockFileEx(reinterpret_cast<HANDLE>(lock),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void closeLockFile(qintptr lock)
{
    CloseHandle(reinterpret_cast<HANDLE>(lock));
}

std::unique_ptr<InstanceListener> makeListener(SingleInstance *owner)
{
    return std::make_unique<Listener>(owner);
}

bool sendShowRequest(const QString &path, const QDeadlineTimer &deadline, QString *error)
{
    const std::wstring name = pipeName(path);
    for (;;) {
        // Identification only: a pipe another user made under this name
        // cannot act as this user.
        const HANDLE pipe = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            // The request fits the pipe's buffer: the write does not wait for
            // the first one to read it.
            constexpr DWORD size = sizeof ShowRequest - 1;
            DWORD written = 0;
            const bool sent =
                WriteFile(pipe, ShowRequest, size, &written, nullptr) && written == size;
            if (!sent)
                *error = lastError();
            CloseHandle(pipe);
            return sent;
        }
        const DWORD why = GetLastError();
        if (why != ERROR_PIPE_BUSY || deadline.hasExpired()) {
            *error = errorText(why);
            return false;
        }
        // The first one serves one later start at a time.
        WaitNamedPipeW(name.c_str(),
                       deadline.isForever()
                           ? NMPWAIT_WAIT_FOREVER
                           : static_cast<DWORD>(qMax<qint64>(deadline.remainingTime(), 1)));
    }
}

} // namespace platform::instance
