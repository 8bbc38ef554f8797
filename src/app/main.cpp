#include "platform/display.h"
#include "platform/paths.h"
#include "platform/single_instance.h"
#include "services/call_log.h"
#include "ui/common/controls.h"
#include "ui/common/cursor_rest.h"
#include "ui/common/forms.h"
#include "ui/common/shown_text.h"
#include "ui/dialer/frmdial.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <string_view>

using namespace Qt::StringLiterals;

namespace {

const char kUsage[] = R"(Usage: vantelo [OPTION]

Dial up to the Internet and watch the line. Vantelo dials the first entry of
its phonebook with the login, password and phone number typed in its window,
on the simulated dial-up line (an entry with Device=Vantelo Simulated Modem)
or on the real modem its Device= names (/dev/ttyACM0, or ttyACM0). It follows the call in words, counts the
time on line, keeps a log of the latest call, redials by itself when Auto
connect is ticked, and lives in the system tray while connected.

Only one Vantelo runs per user: a second start shows the running one's window
and ends.

Options:
  -h, --help                show this help and exit
  --version                 show the version and exit

Exit status:
  0                         Vantelo ended, or handed over to the running one
  1                         the running one could not be reached
  2                         no desktop session to show the window in (neither
                            DISPLAY nor WAYLAND_DISPLAY is set)
)";

} // namespace

int main(int argc, char *argv[])
{
    // Answered before any window exists, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("vantelo " VANTELO_VERSION);
            return 0;
        }
    }

    // Without a display Qt would abort; the user is told what is missing.
    if (const QString reason = platform::missingDisplayReason(argc, argv); !reason.isEmpty()) {
        std::fprintf(stderr, "vantelo: %s\n", qUtf8Printable(reason));
        return 2;
    }
    platform::prepareDisplay();
    QApplication app(argc, argv);
    platform::displayPrepared();
    shown_text::watch(app);
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
    // A text box left in focus stops blinking after a while without input.
    const CursorRest cursorRest;

    const auto dialer = std::make_unique<frmdial>();
    Forms::setDialer(dialer.get());
    QObject::connect(&instance, &platform::SingleInstance::showRequested, dialer.get(),
                     &frmdial::showOnRequest);
    dialer->Form_Load();
    dialer->centreOnScreen();
    dialer->show();
    dialer->activateWindow();
    const int code = QApplication::exec();
    Forms::unloadAll();
    // The monitor's last call log reaches the disk whatever ended the program.
    FlushCallLog();
    return code;
}
