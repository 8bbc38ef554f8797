#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/dialer/frmdial.h"

#include <QApplication>

#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Vantelo"_s);
    QApplication::setApplicationVersion(QStringLiteral(VANTELO_VERSION));
    // The program lives on in the tray while its window is hidden; only the
    // dialer window's unload ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    // The windows are laid out in twips for one small sans-serif font, and
    // the tray icon and the windows show the program's images.
    Controls::useFormFont();
    Controls::registerImages();

    const auto dialer = std::make_unique<frmdial>();
    Forms::setDialer(dialer.get());
    dialer->Form_Load();
    dialer->centreOnScreen();
    dialer->show();
    const int code = QApplication::exec();
    Forms::unloadAll();
    return code;
}
