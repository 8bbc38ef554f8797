// The floor the benchmark measures Vantelo against: the least a Qt Widgets
// program with a window and a tray icon costs. One window, one tray icon,
// nothing else: no timers, no files, no line.

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
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
    window.show();
    return QApplication::exec();
}
