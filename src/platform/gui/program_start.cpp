#include "gui_state.h"

#include "platform/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QUrl>

namespace {

constexpr UINT Started = 33; // any value above 31 means the program started

// "Start.exe ADDRESS" asks the desktop to open the address.
bool isStartCommand(const QString &program)
{
    const QString name = QFileInfo(program).fileName();
    return name.compare(u"start", Qt::CaseInsensitive) == 0 ||
           name.compare(u"start.exe", Qt::CaseInsensitive) == 0;
}

} // namespace

UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow)
{
    const QString commandLine = QString::fromLocal8Bit(lpCmdLine ? lpCmdLine : "");
    platform::gui::state().programStartCalls.append({commandLine, uCmdShow});

    // Split the way a command line is split (double quotes group); no shell
    // ever sees it, so ";", "|" or "$(...)" are ordinary characters.
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    const QString program = arguments.takeFirst();

    if (isStartCommand(program)) {
        const QUrl url = QUrl::fromUserInput(arguments.join(u' '));
        if (!url.isValid() || url.isEmpty())
            return ERROR_FILE_NOT_FOUND;
        if (platform::gui::state().quiet)
            return Started;
        // Without a desktop session there is nothing to open the address with.
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            return ERROR_FILE_NOT_FOUND;
        return QDesktopServices::openUrl(url) ? Started : ERROR_FILE_NOT_FOUND;
    }

    if (platform::gui::state().quiet)
        return Started;
    return QProcess::startDetached(program, arguments) ? Started : ERROR_FILE_NOT_FOUND;
}
