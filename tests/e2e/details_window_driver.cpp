// Drives the connection details window ("Session") for the end-to-end tests,
// one command a line on standard input, one answer a line on standard output:
//
//   open        loads and shows the window; answers "shown <X window id>"
//   open-short  the same, and presses "Hide Options" at once, before the
//               window manager has had a chance to frame the window
//   opt         presses the options button; answers "opt <its new caption>"
//   state       answers "state <client height> <outer height>" as the
//               program itself sees them
//   close       unloads the window; answers "closed"
//   quit        ends the driver
//
// The first line, "ready", comes once the application is up. The test checks
// the window from outside too, with the X server's own view of it.

#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/details/frmset.h"

#include <QApplication>
#include <QPushButton>
#include <QSocketNotifier>

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void answer(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString windowId(QWidget &window)
{
    return u"0x"_s + QString::number(static_cast<qulonglong>(window.winId()), 16);
}

void run(const QString &command)
{
    if (command == u"open"_s || command == u"open-short"_s) {
        frmset &w = Forms::details();
        w.show();
        if (command == u"open-short"_s)
            w.opt->click();
        answer(u"shown "_s + windowId(w));
    } else if (command == u"opt"_s) {
        frmset &w = Forms::details();
        w.opt->click();
        answer(u"opt "_s + w.opt->text());
    } else if (command == u"state"_s) {
        frmset &w = Forms::details();
        answer(u"state %1 %2"_s.arg(w.height()).arg(w.frameGeometry().height()));
    } else if (command == u"close"_s) {
        Forms::unloadDetails();
        answer(u"closed"_s);
    } else if (command == u"quit"_s) {
        QApplication::quit();
    } else {
        answer(u"unknown "_s + command);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Controls::useFormFont();
    Controls::registerImages();

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&pending, &input] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            QApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n')) {
            const QString command = QString::fromLocal8Bit(pending.substr(0, end)).trimmed();
            pending.erase(0, end + 1);
            if (!command.isEmpty())
                run(command);
        }
    });
    answer(u"ready"_s);
    const int code = QApplication::exec();
    Forms::unloadAll();
    return code;
}
