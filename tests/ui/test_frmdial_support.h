#pragma once

// What the dialer window's tests share: a fresh home with a quick simulated
// line, the window loaded with its timers stopped (the tests run the handlers
// themselves), and small readers for the settings file and the call log.

#include "engine/dialing.h"
#include "engine/globals.h"
#include "platform/core/clock.h"
#include "platform/paths.h"
#include "platform/seams.h"
#include "platform/simline.h"
#include "services/call_log.h"
#include "services/clock.h"
#include "services/ini.h"
#include "support/fixture.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/dialer/frmdial.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <memory>

namespace dialertest {

using namespace Qt::StringLiterals;

struct LoginSettings
{
    QString login, number, password, autoConnect;
};

// One test's world: its own home, phonebook and program-wide state.
class Fixture final
{
public:
    TestFixture base;
    std::unique_ptr<frmdial> dialer;

    bool setUp(const QList<PhonebookEntry> &phonebook = {quickEntry(u"Home"_s)})
    {
        // An empty phonebook is written too: a file with no entry.
        if (!base.setUp() || !writePhonebook(phonebook))
            return false;
        Controls::useFormFont(); // as main() does
        // A desktop with an XEmbed tray, unless a test says otherwise.
        platform::seams::setDesktopTray(true);
        platform::seams::setStatusNotifierHost(false);
        HangUpPaceMs = 1;
        return true;
    }

    static void writeSettings(const LoginSettings &s)
    {
        using namespace ::Settings;
        WriteIniValue(FileBase, Info, Login, s.login);
        WriteIniValue(FileBase, Info, Number, s.number);
        WriteIniValue(FileBase, Info, Password, s.password);
        WriteIniValue(FileBase, Info, AutoConnect, s.autoConnect);
    }

    // Creates and loads the window; its timers are stopped afterwards unless
    // asked otherwise.
    frmdial &load(bool stopTimers = true)
    {
        dialer = std::make_unique<frmdial>();
        Forms::setDialer(dialer.get());
        dialer->Form_Load();
        if (stopTimers)
            stopAllTimers();
        return *dialer;
    }

    void stopAllTimers()
    {
        for (QTimer *timer :
             {dialer->Timer1, dialer->Timer2, dialer->Timer3, dialer->Timer4, dialer->tms})
            timer->stop();
    }

    void tearDown()
    {
        Forms::unloadAll();
        Forms::setDialer(nullptr);
        dialer.reset();
        base.tearDown();
    }

    // Types the login fields as the user would see them.
    void fillFields(const QString &user = u"demo"_s, const QString &password = u"demo"_s,
                    const QString &number = u"0860"_s)
    {
        dialer->Combo3->setEditText(user);
        dialer->Text1->setText(password);
        dialer->Combo2->setEditText(number);
    }

    // Runs the monitor until the line is seen up; false after three seconds.
    bool tickUntilConnected()
    {
        return QTest::qWaitFor(
            [this] {
                dialer->Timer1_Timer();
                return dialer->WasConnected == 1;
            },
            3000);
    }

    // Dials with the typed fields and runs the monitor until connected and
    // the post-connect step has run.
    bool connectLine()
    {
        fillFields();
        dialer->Connect_Click();
        if (!tickUntilConnected())
            return false;
        return QTest::qWaitFor([this] { return !dialer->tms->isActive(); }, 3000);
    }
};

// The calls of the simulated line that are not being hung up.
inline qsizetype openCalls()
{
    qsizetype open = 0;
    for (const simline::CallRecord &call : simline::calls())
        open += call.closing ? 0 : 1;
    return open;
}

inline QString callLogPath()
{
    return platform::localPath(CallLogPath);
}

// The call log's lines, line ends removed.
inline QStringList callLogLines()
{
    QFile file(callLogPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(u"\r\n"_s);
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

inline QString iniValue(const QString &key)
{
    return ReadIniValue(::Settings::FileBase, ::Settings::Info, key);
}

// The tip field of a tray record as its 64 raw bytes.
inline QByteArray tipBytes(const NOTIFYICONDATA &data)
{
    return QByteArray(data.szTip, static_cast<qsizetype>(sizeof data.szTip));
}

// The expected tip field: the text, a NUL, blanks up to 64 bytes.
inline QByteArray tipField(const QByteArray &text)
{
    QByteArray field = text + '\0';
    field.append(64 - field.size(), ' ');
    return field;
}

inline QList<platform::seams::ShellNotifyCall> notifyCalls(DWORD message)
{
    QList<platform::seams::ShellNotifyCall> found;
    for (const auto &call : platform::seams::shellNotifyCalls()) {
        if (call.message == message)
            found.append(call);
    }
    return found;
}

} // namespace dialertest
