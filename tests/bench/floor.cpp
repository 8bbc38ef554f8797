// The floor the benchmark measures Vantelo against: the least a Qt Widgets
// program with a window and a tray icon costs. One window, one tray icon,
// nothing else: no timers, no files, no line.
//
// With --tip-every-second it also does what the connected program's tray
// icon must: its tip carries a clock and changes once a second, so each
// second the desktop hears of a new tip. That is the least a program showing
// a running clock in its tip costs.
//
// With --text the window shows one line of text, as every window that shows
// words must: what the system's fonts cost a program at start-up.

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTime>
#include <QTimer>
#include <QWidget>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(u"Vantelo floor"_s);
    window.resize(354, 345);
    QPixmap pixmap(16, 16);
    pixmap.fill(QColor(0, 96, 160));
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setToolTip(u"Vantelo floor"_s);
    tray.show();
    if (QApplication::arguments().contains(u"--text"_s)) {
        auto *label = new QLabel(u"Vantelo floor"_s, &window);
        label->move(10, 10);
    }
    window.show();
    QTimer clock;
    int seconds = 0;
    if (QApplication::arguments().contains(u"--tip-every-second"_s)) {
        QObject::connect(&clock, &QTimer::timeout, &tray, [&tray, &seconds] {
            ++seconds;
            tray.setToolTip(u"Vantelo floor - Connected."_s +
                            QTime(0, 0).addSecs(seconds).toString(u"hh:mm:ss"_s));
        });
        clock.start(1000);
    }
    return QApplication::exec();
}
