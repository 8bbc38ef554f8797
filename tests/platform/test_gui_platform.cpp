// The platform's user-facing calls on Qt: window and icon handles, the tray
// icon and its mouse messages, message boxes, the open-file dialog, sounds and
// program start, with the seams that let tests watch and answer them.

#include "platform/ansi.h"
#include "platform/dialogs.h"
#include "platform/seams.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/window_handles.h"
#include "support/fixture.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;
namespace seams = platform::seams;

namespace {

// A window that keeps every tray callback it receives.
class TrayWindow final : public QWidget
{
public:
    QList<QPair<UINT, UINT>> received;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == platform::TrayCallbackEvent::eventType()) {
            const auto *tray = static_cast<platform::TrayCallbackEvent *>(e);
            received.append({tray->callbackMessage(), tray->mouseMessage()});
            return true;
        }
        return QWidget::event(e);
    }
};

NOTIFYICONDATA trayRecord(HWND hwnd, UINT flags, const QByteArray &tip)
{
    NOTIFYICONDATA data{};
    data.cbSize = sizeof(NOTIFYICONDATA);
    data.hWnd = hwnd;
    data.uID = 1;
    data.uFlags = flags;
    data.uCallbackMessage = WM_MOUSEMOVE;
    std::memset(data.szTip, ' ', sizeof data.szTip);
    std::memcpy(data.szTip, tip.constData(), qMin<qsizetype>(tip.size(), sizeof data.szTip));
    return data;
}

// Receives the addresses the desktop is asked to open.
class UrlCatcher final : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

const QByteArray SoundFilter("Wave sounds (*.wav)\0*.wav\0All files (*.*)\0*.*\0\0", 46);

// An open-file record as a caller fills it, with its own buffers.
struct OpenFile
{
    QByteArray title = "Choose the sound file";
    QByteArray file = QByteArray(255, ' ') + '\0';
    OPENFILENAME ofn{};

    explicit OpenFile(HWND owner, DWORD maxFile = 255)
    {
        ofn.lStructSize = sizeof(OPENFILENAME);
        ofn.hwndOwner = owner;
        ofn.lpstrFilter = SoundFilter.constData();
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = maxFile;
        ofn.lpstrTitle = title.constData();
        ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    }
    QByteArray chosen() const { return QByteArray(file.constData()); }
};

// Hands the modal window that the coming call shows to `answer`, once the
// event loop runs, when that window is a Dialog.
template <typename Dialog, typename Answer> void answerModal(QObject *context, Answer answer)
{
    QTimer::singleShot(0, context, [answer] {
        if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget()))
            answer(dialog);
    });
}

} // namespace

class TestGuiPlatform final : public FixtureTest
{
    Q_OBJECT

private slots:
    void handlesNameLiveObjects()
    {
        auto first = std::make_unique<QWidget>();
        QWidget second;
        const HWND h1 = platform::windowHandle(first.get());
        QVERIFY(h1 != 0);
        QCOMPARE(platform::windowHandle(first.get()), h1);
        QVERIFY(platform::windowHandle(&second) != h1);
        QCOMPARE(platform::windowFromHandle(h1), first.get());
        QCOMPARE(platform::windowHandle(nullptr), HWND(0));
        first.reset();
        QVERIFY(!platform::windowFromHandle(h1));
        QVERIFY(!platform::windowFromHandle(0x7fffffff));

        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::red);
        const QIcon icon(pixmap);
        const HICON hi = platform::iconHandle(icon);
        QVERIFY(hi != 0);
        QCOMPARE(platform::iconHandle(icon), hi);
        QCOMPARE(platform::iconFromHandle(hi).cacheKey(), icon.cacheKey());
        QCOMPARE(platform::iconHandle(QIcon()), HICON(0));

        const QEvent::Type type = platform::TrayCallbackEvent::eventType();
        QVERIFY(type >= QEvent::User);
        QCOMPARE(platform::TrayCallbackEvent::eventType(), type);
    }

    void trayCallsAreRecordedAndTipsCut()
    {
        TrayWindow window;
        const HWND hwnd = platform::windowHandle(&window);
        const bool haveTray = QSystemTrayIcon::isSystemTrayAvailable();

        NOTIFYICONDATA data = trayRecord(hwnd, NIF_MESSAGE | NIF_ICON | NIF_TIP,
                                         QByteArray("Vantelo BETA \0left over", 23));
        QCOMPARE(Shell_NotifyIconA(NIM_ADD, &data), haveTray ? TRUE : FALSE);
        QCOMPARE(seams::trayToolTip(), u"Vantelo BETA "_s);
        // A second icon for the same window and id is refused.
        QCOMPARE(Shell_NotifyIconA(NIM_ADD, &data), FALSE);

        // Only what the flags name changes.
        data = trayRecord(hwnd, NIF_ICON, QByteArray("ignored\0", 8));
        Shell_NotifyIconA(NIM_MODIFY, &data);
        QCOMPARE(seams::trayToolTip(), u"Vantelo BETA "_s);
        // A field without its NUL keeps 63 characters.
        data = trayRecord(hwnd, NIF_TIP, QByteArray(64, 'x'));
        Shell_NotifyIconA(NIM_MODIFY, &data);
        QCOMPARE(seams::trayToolTip(), QString(63, u'x'));

        QCOMPARE(Shell_NotifyIconA(NIM_DELETE, &data), haveTray ? TRUE : FALSE);
        QCOMPARE(seams::trayToolTip(), QString());
        QVERIFY(!seams::sendTrayMouse(hwnd, WM_RBUTTONDOWN));
        QCOMPARE(Shell_NotifyIconA(NIM_DELETE, &data), FALSE);
        QCOMPARE(Shell_NotifyIconA(NIM_MODIFY, &data), FALSE);

        const auto &calls = seams::shellNotifyCalls();
        QCOMPARE(calls.size(), 7);
        const QList<DWORD> messages{NIM_ADD,    NIM_ADD,    NIM_MODIFY, NIM_MODIFY,
                                    NIM_DELETE, NIM_DELETE, NIM_MODIFY};
        for (qsizetype i = 0; i < calls.size(); ++i)
            QCOMPARE(calls.at(i).message, messages.at(i));
        QCOMPARE(calls.at(0).data.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
        QCOMPARE(calls.at(0).data.hWnd, hwnd);
        QCOMPARE(calls.at(0).data.uCallbackMessage, WM_MOUSEMOVE);
        QCOMPARE(QByteArray(calls.at(0).data.szTip, 23),
                 QByteArray("Vantelo BETA \0left over", 23));
        QCOMPARE(calls.at(3).data.uFlags, NIF_TIP);
    }

    void trayMouseReachesTheWindowAsTheDesktopSendsIt()
    {
        TrayWindow window;
        const HWND hwnd = platform::windowHandle(&window);
        NOTIFYICONDATA data =
            trayRecord(hwnd, NIF_MESSAGE | NIF_ICON | NIF_TIP, QByteArray("tip\0", 4));
        Shell_NotifyIconA(NIM_ADD, &data);

        // Posted, as the desktop's messages are: nothing arrives before the loop runs.
        QVERIFY(seams::sendTrayMouse(hwnd, WM_RBUTTONDOWN));
        QVERIFY(window.received.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(window.received.size(), 2, 1000);
        QCOMPARE(window.received.at(0), qMakePair(WM_MOUSEMOVE, WM_RBUTTONDOWN));
        QCOMPARE(window.received.at(1), qMakePair(WM_MOUSEMOVE, WM_RBUTTONUP));

        // A double click comes after a press.
        window.received.clear();
        QVERIFY(seams::sendTrayMouse(hwnd, WM_LBUTTONDBLCLK));
        QTRY_COMPARE_WITH_TIMEOUT(window.received.size(), 2, 1000);
        QCOMPARE(window.received.at(0), qMakePair(WM_MOUSEMOVE, WM_LBUTTONDOWN));
        QCOMPARE(window.received.at(1), qMakePair(WM_MOUSEMOVE, WM_LBUTTONDBLCLK));

        window.received.clear();
        QVERIFY(seams::sendTrayMouse(hwnd, WM_LBUTTONDOWN));
        QTRY_COMPARE_WITH_TIMEOUT(window.received.size(), 1, 1000);
        QCOMPARE(window.received.at(0), qMakePair(WM_MOUSEMOVE, WM_LBUTTONDOWN));

        // Tip updates keep the callback the icon was added with.
        window.received.clear();
        data = trayRecord(hwnd, NIF_TIP, QByteArray("Vantelo BETA - Connected.00:00:05\0", 34));
        data.uCallbackMessage = 0;
        Shell_NotifyIconA(NIM_MODIFY, &data);
        QVERIFY(seams::sendTrayMouse(hwnd, WM_RBUTTONDOWN));
        QTRY_COMPARE_WITH_TIMEOUT(window.received.size(), 2, 1000);
        QCOMPARE(window.received.at(0).first, WM_MOUSEMOVE);
        QCOMPARE(seams::trayToolTip(), u"Vantelo BETA - Connected.00:00:05"_s);

        Shell_NotifyIconA(NIM_DELETE, &data);
        QVERIFY(!seams::sendTrayMouse(hwnd, WM_RBUTTONDOWN));
    }

    void trayMouseNeedsACallbackAndALiveWindow()
    {
        auto window = std::make_unique<TrayWindow>();
        const HWND hwnd = platform::windowHandle(window.get());
        NOTIFYICONDATA data = trayRecord(hwnd, NIF_ICON | NIF_TIP, QByteArray("tip\0", 4));
        Shell_NotifyIconA(NIM_ADD, &data);
        QVERIFY(!seams::sendTrayMouse(hwnd, WM_RBUTTONDOWN));
        QTest::qWait(10);
        QVERIFY(window->received.isEmpty());

        data.uFlags = NIF_MESSAGE;
        Shell_NotifyIconA(NIM_MODIFY, &data);
        window.reset();
        QVERIFY(!seams::sendTrayMouse(hwnd, WM_RBUTTONDOWN));
        Shell_NotifyIconA(NIM_DELETE, &data);
    }

    void quietMessageBoxesAnswerFromTheQueue()
    {
        QWidget owner;
        const HWND hwnd = platform::windowHandle(&owner);
        seams::setNextMessageBoxAnswer(7);
        QCOMPARE(MessageBoxA(hwnd, "Please enter a username..", "Vantelo BETA", MB_ICONINFORMATION),
                 7);
        QCOMPARE(MessageBoxA(0, "Pas disponible", "Vantelo BETA", MB_OK), IDOK);
        const auto &calls = seams::messageBoxCalls();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(0).owner, hwnd);
        QCOMPARE(calls.at(0).text, u"Please enter a username.."_s);
        QCOMPARE(calls.at(0).caption, u"Vantelo BETA"_s);
        QCOMPARE(calls.at(0).type, MB_ICONINFORMATION);
        QCOMPARE(calls.at(1).text, u"Pas disponible"_s);
    }

    void shownMessageBoxHasTheCaptionTextAndIcon()
    {
        seams::setQuiet(false);
        QWidget owner;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title, text;
        QWidget *parent = nullptr;
        answerModal<QMessageBox>(this, [&](QMessageBox *box) {
            icon = box->icon();
            title = box->windowTitle();
            text = box->text();
            parent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        });
        const int answer = MessageBoxA(platform::windowHandle(&owner), "Connected.", "Vantelo BETA",
                                       MB_ICONINFORMATION);
        QCOMPARE(answer, IDOK);
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(title, u"Vantelo BETA"_s);
        QCOMPARE(text, u"Connected."_s);
        QCOMPARE(parent, &owner);
        QCOMPARE(seams::messageBoxCalls().size(), 1);
    }

    void quietFileDialogReturnsTheQueuedName()
    {
        OpenFile chosen(4321);
        const QString path = u"/home/user/Sons/connexion.wav"_s;
        seams::setNextOpenFileName(path);
        QCOMPARE(GetOpenFileNameA(&chosen.ofn), TRUE);
        QCOMPARE(chosen.chosen(), platform::toAnsi(path));
        QCOMPARE(chosen.ofn.nFileOffset, WORD(16));
        QCOMPARE(chosen.ofn.nFileExtension, WORD(26));

        const auto &calls = seams::openFileCalls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.at(0).owner, HWND(4321));
        QCOMPARE(calls.at(0).title, u"Choose the sound file"_s);
        QCOMPARE(calls.at(0).filter, (QStringList{u"Wave sounds (*.wav)"_s, u"*.wav"_s,
                                                  u"All files (*.*)"_s, u"*.*"_s}));
        QCOMPARE(calls.at(0).flags, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
        QCOMPARE(calls.at(0).structSize, 76u);
        QCOMPARE(calls.at(0).maxFile, 255u);
        QCOMPARE(calls.at(0).initialFile, QByteArray(255, ' '));

        // Nothing queued: the user cancels.
        OpenFile cancelled(4321);
        QCOMPARE(GetOpenFileNameA(&cancelled.ofn), FALSE);

        // A path that does not fit the buffer with its NUL.
        OpenFile small(4321, 10);
        seams::setNextOpenFileName(u"/tmp/a.wav"_s);
        QCOMPARE(GetOpenFileNameA(&small.ofn), FALSE);
        OpenFile fits(4321, 11);
        seams::setNextOpenFileName(u"/tmp/a.wav"_s);
        QCOMPARE(GetOpenFileNameA(&fits.ofn), TRUE);
        QCOMPARE(fits.chosen(), "/tmp/a.wav"_ba);
        QCOMPARE(seams::openFileCalls().size(), 4);
    }

    void shownFileDialogUsesTheFiltersAndReturnsTheChoice()
    {
        seams::setQuiet(false);
        const QString folder = m_f.home().path() + u"/sounds"_s;
        QVERIFY(writeBytes(folder + u"/ding.wav"_s, "RIFF"));
        // The dialog starts in the current folder.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
        QWidget owner;
        QStringList filters;
        QString title;
        QWidget *parent = nullptr;
        bool existingOnly = false;
        answerModal<QFileDialog>(this, [&](QFileDialog *dialog) {
            filters = dialog->nameFilters();
            title = dialog->windowTitle();
            parent = dialog->parentWidget();
            existingOnly = dialog->fileMode() == QFileDialog::ExistingFile;
            dialog->selectFile(folder + u"/ding.wav"_s);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
        });
        OpenFile chosen(platform::windowHandle(&owner));
        QCOMPARE(GetOpenFileNameA(&chosen.ofn), TRUE);
        QCOMPARE(chosen.chosen(), QFile::encodeName(folder + u"/ding.wav"_s));
        QCOMPARE(filters, (QStringList{u"Wave sounds (*.wav)"_s, u"All files (*)"_s}));
        QCOMPARE(title, u"Choose the sound file"_s);
        QCOMPARE(parent, &owner);
        QVERIFY(existingOnly);

        answerModal<QDialog>(this, [](QDialog *dialog) { dialog->reject(); });
        OpenFile cancelled(platform::windowHandle(&owner));
        QCOMPARE(GetOpenFileNameA(&cancelled.ofn), FALSE);
    }

    void quietSoundsAreRecordedNotPlayed()
    {
        const QString wave = m_f.home().path() + u"/ding.wav"_s;
        QVERIFY(writeBytes(wave, "RIFF"));
        QCOMPARE(sndPlaySoundA(platform::toAnsi(wave).constData(), SND_ASYNC | SND_NODEFAULT),
                 TRUE);
        const QString missing = m_f.home().path() + u"/missing.wav"_s;
        QCOMPARE(sndPlaySoundA(platform::toAnsi(missing).constData(), SND_ASYNC | SND_NODEFAULT),
                 FALSE);
        QCOMPARE(sndPlaySoundA("", SND_ASYNC), FALSE);
        // Not quiet, a missing file still plays nothing.
        seams::setQuiet(false);
        QCOMPARE(sndPlaySoundA(platform::toAnsi(missing).constData(), SND_ASYNC | SND_NODEFAULT),
                 FALSE);
        const auto &calls = seams::soundCalls();
        QCOMPARE(calls.size(), 4);
        QCOMPARE(calls.at(0).path, wave);
        QCOMPARE(calls.at(0).flags, SND_ASYNC | SND_NODEFAULT);
        QCOMPARE(calls.at(1).path, missing);
        QCOMPARE(calls.at(2).flags, SND_ASYNC);
    }

    void startCommandOpensTheAddress()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
        seams::setQuiet(false);
        QCOMPARE(WinExec("Start.exe https://vantelo.example/download?v=0.1.0", SW_HIDE), 33u);
        QCOMPARE(WinExec("START https://vantelo.example/", SW_HIDE), 33u);
        QCOMPARE(catcher.urls, (QList<QUrl>{QUrl(u"https://vantelo.example/download?v=0.1.0"_s),
                                            QUrl(u"https://vantelo.example/"_s)}));
        QCOMPARE(WinExec("Start.exe", SW_HIDE), ERROR_FILE_NOT_FOUND);

        // Quiet: recorded, nothing opened.
        seams::setQuiet(true);
        QCOMPARE(WinExec("Start.exe https://vantelo.example/quiet", SW_HIDE), 33u);
        QDesktopServices::unsetUrlHandler(u"https"_s);
        QCOMPARE(catcher.urls.size(), 2);

        const auto &calls = seams::programStartCalls();
        QCOMPARE(calls.size(), 4);
        QCOMPARE(calls.at(0).commandLine, u"Start.exe https://vantelo.example/download?v=0.1.0"_s);
        QCOMPARE(calls.at(0).showCommand, SW_HIDE);
        QCOMPARE(calls.at(3).commandLine, u"Start.exe https://vantelo.example/quiet"_s);
    }

    void programsStartWithoutAShell()
    {
        seams::setQuiet(false);
        const QString folder = m_f.home().path() + u"/out"_s;
        QVERIFY(QDir().mkpath(folder));
        // touch makes one file per argument it is given, named exactly so.
        const QByteArray command = "touch \"" + QFile::encodeName(folder) + "/a;b\" \"" +
                                   QFile::encodeName(folder) + "/$(id)\" \"" +
                                   QFile::encodeName(folder) + "/with blank\"";
        QCOMPARE(WinExec(command.constData(), SW_SHOWNORMAL), 33u);
        const QStringList expected{u"$(id)"_s, u"a;b"_s, u"with blank"_s};
        QTRY_COMPARE_WITH_TIMEOUT(QDir(folder).entryList(QDir::Files, QDir::Name), expected, 5000);

        QCOMPARE(WinExec("/nonexistent/vantelo-helper --go", SW_SHOWNORMAL), ERROR_FILE_NOT_FOUND);
        QCOMPARE(WinExec("", SW_SHOWNORMAL), ERROR_FILE_NOT_FOUND);

        // Quiet: nothing starts.
        seams::setQuiet(true);
        const QByteArray quietCommand = "touch \"" + QFile::encodeName(folder) + "/quiet\"";
        QCOMPARE(WinExec(quietCommand.constData(), SW_SHOWNORMAL), 33u);
        QTest::qWait(200);
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), expected);
        QCOMPARE(seams::programStartCalls().size(), 4);
        QCOMPARE(seams::programStartCalls().at(3).commandLine,
                 QString::fromLocal8Bit(quietCommand));
    }
};

QTEST_MAIN(TestGuiPlatform)
#include "test_gui_platform.moc"
