#include "platform/display.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <cstring>

namespace {

constexpr char NoSharedMemory[] = "QT_XCB_NO_MITSHM";
bool g_setByUs = false;

[[maybe_unused]] constexpr char NoSession[] =
    "no desktop session: Vantelo shows its windows on an X11 or Wayland desktop, and neither "
    "DISPLAY nor WAYLAND_DISPLAY is set. Start it from a graphical session.";

} // namespace

namespace platform {

QString missingDisplayReason(int argc, const char *const *argv)
{
#ifdef _WIN32
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return {};
#else
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return {};
    }
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    // QT_QPA_PLATFORM names the platforms Qt tries, in order ("wayland;xcb"):
    // X11 and Wayland need their display, the others (offscreen, vnc...) none.
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (chosen.isEmpty())
        return x11 || wayland ? QString() : QString::fromLatin1(NoSession);
    for (const QByteArray &name : chosen.split(';')) {
        const QByteArray platform = name.trimmed();
        if (platform.isEmpty())
            continue;
        const bool needsX11 = platform.startsWith("xcb");
        const bool needsWayland = platform.startsWith("wayland");
        if ((!needsX11 && !needsWayland) || (needsX11 && x11) || (needsWayland && wayland))
            return {};
    }
    return QString::fromLatin1(NoSession);
#endif
}

void prepareDisplay()
{
#ifndef _WIN32
    if (qEnvironmentVariableIsSet(NoSharedMemory))
        return;
    g_setByUs = qputenv(NoSharedMemory, QByteArrayLiteral("1"));
#endif
}

void displayPrepared()
{
    if (g_setByUs)
        qunsetenv(NoSharedMemory);
    g_setByUs = false;
}

} // namespace platform
