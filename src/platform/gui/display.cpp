#include "platform/display.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

constexpr char NoSharedMemory[] = "QT_XCB_NO_MITSHM";
bool g_setByUs = false;

} // namespace

namespace platform {

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
