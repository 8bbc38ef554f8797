#include "platform/paths.h"
#include "platform/single_instance.h"
#include "services/call_log.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/dialer/frmdial.h"

#include <QApplication>

#include <cstdio>
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

    // One Vantelo per user: a later start shows the running one and ends,
    // so two monitors never follow (and log) the same call.
    platform::SingleInstance instance(platform::runtimeFolder());
    const platform::SingleInstance::Role role = instance.claim();
    if (!instance.problem().isEmpty())
        std::fprintf(stderr, "vantelo: %s\n", qUtf8Printable(instance.problem()));
    if (!platform::runtimeFolderError().isEmpty())
        std::fprintf(stderr, "vantelo: %s\n", qUtf8Printable(platform::runtimeFolderError()));
    if (role == platform::SingleInstance::Role::Forwarded)
        return 0;
    if (role == platform::SingleInstance::Role::Unreachable)
        return 1;

    // The windows are laid out in twips for one small sans-serif font, and
    // the tray icon and the windows show the program's images.
    Controls::useFormFont();
    Controls::registerImages();

    const auto dialer = std::make_unique<frmdial>();
    Forms::setDialer(dialer.get());
    QObject::connect(&instance, &platform::SingleInstance::showRequested, dialer.get(),
                     &frmdial::showOnRequest);
    dialer->Form_Load();
    dialer->centreOnScreen();
    dialer->show();
    const int code = QApplication::exec();
    Forms::unloadAll();
    // The monitor's last call log reaches the disk whatever ended the program.
    FlushCallLog();
    return code;
}
