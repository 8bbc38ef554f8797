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
//
// With --details it does what the connected program with its details window
// open must: the tip's clock as above, and a window that shows the clock once
// a second and two byte counters that change twice a second, in step with the
// clock, beside a text box that has the keyboard focus (its cursor blinks,
// and rests after ten seconds without input, as Vantelo's does).
// Its pixels go to the X server as Vantelo's do, without shared memory.
//
// With --rewrite-every-second FILE it writes a two-line record to FILE and
// rewrites it in place once a second, the time in it changed: the least a
// program that keeps a file up to date each second costs the disk. The
// system writes the changed page back about every 30 s, and with it the
// file's changed times (on a file system without a journal, as the
// program's own write).

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTime>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <string_view>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    const bool details = std::any_of(argv + 1, argv + argc, [](const char *arg) {
        return std::string_view(arg) == "--details";
    });
    if (details)
        qputenv("QT_XCB_NO_MITSHM", QByteArrayLiteral("1"));
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
    QLabel *sessionClock = nullptr;
    QLabel *sent = nullptr;
    QLabel *received = nullptr;
    if (details) {
        sent = new QLabel(&window);
        sent->setGeometry(152, 96, 153, 13);
        received = new QLabel(&window);
        received->setGeometry(152, 120, 153, 13);
        sessionClock = new QLabel(&window);
        sessionClock->setGeometry(152, 144, 145, 13);
        auto *minutes = new QLineEdit(&window);
        minutes->setGeometry(112, 200, 33, 19);
        minutes->setFocus();
        QTimer::singleShot(10000, [] { QApplication::setCursorFlashTime(0); });
    }
    window.show();
    QTimer clock;
    QTimer counters;
    int seconds = 0;
    qint64 bytes = 0;
    if (details || QApplication::arguments().contains(u"--tip-every-second"_s)) {
        QObject::connect(&clock, &QTimer::timeout, &tray, [&] {
            ++seconds;
            const QString hms = QTime(0, 0).addSecs(seconds).toString(u"hh:mm:ss"_s);
            if (sessionClock)
                sessionClock->setText(hms);
            tray.setToolTip(u"Vantelo floor - Connected."_s + hms);
        });
        clock.start(1000);
    }
    if (details) {
        QObject::connect(&counters, &QTimer::timeout, sent, [&] {
            bytes += 1234;
            sent->setText(QString::number(bytes));
            received->setText(QString::number(bytes * 3));
        });
        QTimer::singleShot(clock.remainingTime(), &counters, [&counters] { counters.start(500); });
    }
    QTimer rewrite;
    QFile record;
    const QStringList arguments = QApplication::arguments();
    const qsizetype fileArgument = arguments.indexOf(u"--rewrite-every-second"_s) + 1;
    if (fileArgument > 0 && fileArgument < arguments.size()) {
        record.setFileName(arguments.at(fileArgument));
        if (!record.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
            return 1;
        const auto writeRecord = [&record] {
            const QString now = QTime::currentTime().toString(u"hh:mm:ss"_s);
            const QByteArray text =
                "Date,Started At,Finished At,Connection\r\n07/12/2026,17:00:00," + now.toLatin1() +
                ",28800\r\n";
            return record.seek(0) && record.write(text) == text.size();
        };
        if (!writeRecord())
            return 1;
        QObject::connect(&rewrite, &QTimer::timeout, &record, [&] {
            if (!writeRecord())
                QApplication::exit(1);
        });
        rewrite.start(1000);
    }
    return QApplication::exec();
}
