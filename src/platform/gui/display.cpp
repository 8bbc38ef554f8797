#include "platform/display.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

namespace {

constexpr char NoSharedMemory[] = "QT_XCB_NO_MITSHM";
bool g_setByUs = false;

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
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return {};
    }
    return QStringLiteral("no desktop session: Vantelo shows its windows on an X11 or Wayland "
                          "desktop, and neither DISPLAY nor WAYLAND_DISPLAY is set. Start it "
                          "from a graphical session.");
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
