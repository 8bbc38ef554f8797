#include "ui/dialer/frmdial.h"

#include "engine/dialing.h"
#include "engine/globals.h"
#include "engine/line_status.h"
#include "engine/phonebook.h"
#include "platform/ansi.h"
#include "platform/dialogs.h"
#include "platform/ras.h"
#include "platform/ras_lists.h"
#include "platform/shell.h"
#include "platform/window_handles.h"
#include "services/call_log.h"
#include "services/clock.h"
#include "services/ini.h"
#include "services/post_connect.h"
#include "services/storage_notice.h"
#include "ui/about/frmAbout.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/common/shown_text.h"
#include "ui/details/frmset.h"
#include "ui/dialer/collapse.h"
#include "ui/dialer/indicator_circle.h"
#include "ui/options/frmopt.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QStringListModel>
#include <QTimer>

#include <climits>
#include <cmath>
#include <cstring>
#include <optional>

using namespace Qt::StringLiterals;
using namespace Controls;

namespace {

// The phonebook entry list as the engine fills it. Items are added to the box
// in one go, before anything else reads or changes it: a long phonebook would
// otherwise cost one model insertion each. An empty box takes the whole list
// as its model's list of texts, with no item made for each entry.
class ComboEntryList final : public EntryList
{
public:
    explicit ComboEntryList(QComboBox *combo) : m_combo(combo) {}
    ~ComboEntryList() override { flush(); }
    ComboEntryList(const ComboEntryList &) = delete;
    ComboEntryList &operator=(const ComboEntryList &) = delete;
    void clear() override
    {
        m_pending.clear();
        m_combo->clear();
    }
    void addItem(const QString &text) override { m_pending.append(text); }
    bool setListIndex(int index) override
    {
        flush();
        if (index < 0 || index >= m_combo->count())
            return false;
        m_combo->setCurrentIndex(index);
        return true;
    }

private:
    void flush()
    {
        if (m_pending.isEmpty())
            return;
        auto *texts = qobject_cast<QStringListModel *>(m_combo->model());
        if (texts && m_combo->count() == 0)
            texts->setStringList(m_pending);
        else
            m_combo->addItems(m_pending);
        m_pending.clear();
    }

    QComboBox *m_combo;
    QStringList m_pending;
};

// A number in the system's format, as the user would type it; blanks around
// it are allowed.
std::optional<double> systemNumber(const QString &text)
{
    bool ok = false;
    const double value = QLocale::system().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Rounds to the nearest whole number, halves to the even neighbour.
double roundHalfEven(double value)
{
    return std::nearbyint(value);
}

const QString PromptPasswordMissing = u"Please Enter Your Pass Word.."_s;
const QString PromptUserMissing = u"Please Enter Your User Name.."_s;
const QString PromptNumberMissingOnEdit = u"Please Enter a Phone Number to dial..."_s;
const QString PromptNumberMissingAfterPassword = u"Please Enter a Phone Number to dial.."_s;
const QString PromptReady = u"Press Connect to begin dialing..."_s;
const QString StatusAttempting = u"Attempting to establish a connection..."_s;
const QString StatusDisconnected = u"Disconnected"_s;
const QString StatusCancelled = u" Please Click Connect to begin Dialing.."_s;
const QString StatusRedialWaits = u" Redialing waits until the login or password changes, or until "
                                  u"Connecter is pressed."_s;
const QString StatusNoTray = u"\nNo tray on this desktop: Vantelo stays open while connected."_s;
const QString CaptionCancel = u"Cancel"_s;
const QString CaptionClose = u"Close"_s;

// A window that Vantelo opens takes the focus, wherever the request came from:
// the tray's menu (no window of the program has the focus then), a button of
// another window, a second start.
void bringToFront(QWidget *window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

// A window already on screen is raised and activated as it is (a dialog
// shown modeless cannot become modal now); false when it is not shown.
bool raiseIfShown(QWidget *window)
{
    if (!window->isVisible())
        return false;
    window->raise();
    window->activateWindow();
    return true;
}

// The same for a modal window, once its own event loop runs.
void execInFront(QDialog *dialog)
{
    QTimer::singleShot(0, dialog, [dialog] {
        dialog->raise();
        dialog->activateWindow();
    });
    dialog->exec();
}

// A dialog shown modal over `owner`. One already on screen (shown modeless)
// cannot become modal now: it is raised as it is.
void execOwnedBy(QWidget *owner, QDialog *dialog)
{
    if (raiseIfShown(dialog))
        return;
    dialog->setParent(owner, dialog->windowFlags());
    execInFront(dialog);
}

const QColor CircleRed(255, 0, 0);
const QColor CircleBlue(0, 0, 255);

} // namespace

frmdial::frmdial(QWidget *parent) : QWidget(parent)
{
    setUpWindow(this, u"frmdial"_s, u"Vantelo - BETA VERSION"_s, Border::FixedSingle, 5310, 5175);
    setWindowIcon(loadIcon(u":/vantelo/vantelo.png"_s));
    setBackColor(this, QColor(FormGrey));
    // The style's grey for disabled captions is the window's own grey: the
    // locked check boxes would lose their captions while dialing.
    QPalette pal = palette();
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        pal.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
    setPalette(pal);
    // The tray icon's activity comes as mouse moves; real ones come too.
    setMouseTracking(true);

    buildControls();
    buildMenu();
    buildTimers();
}

frmdial::~frmdial()
{
    // A window that goes away without its unload (tests) takes its icon along,
    // and is no longer the one the other windows reach.
    if (m_trayIconAdded && !m_unloaded)
        Shell_NotifyIconA(NIM_DELETE, &TrayIconData);
    if (Forms::dialerLoaded() && &Forms::dialer() == this)
        Forms::setDialer(nullptr);
}

void frmdial::buildControls()
{
    Image3 = makePicture(this, u"Image3"_s, u":/vantelo/logo.png"_s, 480, 120, 4320, 840);
    Image3->setScaledContents(true);

    static constexpr int circleLefts[5] = {1440, 2040, 2640, 3120, 3720};
    for (int i = 0; i < 5; ++i) {
        auto *circle = named(new IndicatorCircle(this), u"Shape1_%1"_s.arg(i));
        circle->setFillColor(CircleRed);
        placeTwips(circle, circleLefts[i], 720, 135, 135);
        Shape1[static_cast<size_t>(i)] = circle;
    }

    Frame2 = makeFrame(this, u"Frame2"_s, u"Information"_s, 0, 1080, 5295, 1695);
    Label1 = makeAutoSizeLabel(Frame2, u"Label1"_s, u"Login:"_s, 240, 300);
    Combo3 = makeComboBox(Frame2, u"Combo3"_s, true, 1440, 240, 2535, 315);
    Label2 = makeAutoSizeLabel(Frame2, u"Label2"_s, u"Password:"_s, 240, 600);
    Text1 = makeTextBox(Frame2, u"Text1"_s, QString(), 1440, 600, 2535, 285);
    Text1->setEchoMode(QLineEdit::Password);
    Text1->setStyleSheet(u"lineedit-password-character: 42;"_s); // "*"
    Label3 = makeAutoSizeLabel(Frame2, u"Label3"_s, u"No:"_s, 240, 960);
    Combo2 = makeComboBox(Frame2, u"Combo2"_s, true, 1440, 960, 2535, 315);
    Label6 = makeAutoSizeLabel(Frame2, u"Label6"_s, u"Option:"_s, 240, 1320);
    Check1 = makeCheckBox(Frame2, u"Check1"_s, u"Enregistrer"_s, 1440, 1320, 1215, 255);
    Check2 = makeCheckBox(Frame2, u"Check2"_s, u"Auto connect"_s, 2880, 1320, 1455, 255);
    nameAfterCaption(Combo3, Label1);
    nameAfterCaption(Text1, Label2);
    nameAfterCaption(Combo2, Label3);

    Frame1 = makeFrame(this, u"Frame1"_s, u"Etat de la connexion "_s, 0, 2880, 5295, 1455);
    status = makeLabel(Frame1, u"status"_s, QString(), 120, 360, 4935, 975);
    status->setWordWrap(true);

    Connect = makeButton(this, u"Connect"_s, u"Connecter"_s, 0, 4440, 1215, 375);
    exi = makeButton(this, u"exi"_s, CaptionClose, 1320, 4440, 1215, 375);
    opt = makeButton(this, u"opt"_s, u"Options"_s, 2640, 4440, 1215, 375);
    Command1 = makeButton(this, u"Command1"_s, u"?"_s, 4560, 4440, 615, 375);
    // "?" opens the about window, as the tray menu's "A Propos" does.
    setSpokenName(Command1, u"A Propos"_s);
    Label8 = makeLabel(this, u"Label8"_s, u"BETA VERSION %1.%2"_s.arg(AppMajor).arg(AppMinor), 600,
                       4920, 2175, 255);
    Label9 = makeLabel(this, u"Label9"_s, MakerWebHost, 3000, 4920, 1695, 255);
    Label9->setCursor(Qt::PointingHandCursor);
    Label9->installEventFilter(this);

    // Below the client area: not seen in the window's normal size, but they
    // keep and show their values.
    Frame3 = makeFrame(this, u"Frame3"_s, u"Statistique "_s, 0, 6120, 5295, 975);
    Label7 = makeAutoSizeLabel(Frame3, u"Label7"_s, u"Durée Session"_s, 600, 300);
    lblSession = makeLabel(Frame3, u"lblSession"_s, u"00:00:00"_s, 840, 600, 750, 240);
    Label5 = makeAutoSizeLabel(Frame3, u"Label5"_s, u"Temp du Mois"_s, 2160, 300);
    lblMonth = makeLabel(Frame3, u"lblMonth"_s, u"00:00:00"_s, 2400, 600, 750, 240);
    Label4 = makeAutoSizeLabel(Frame3, u"Label4"_s, u"Temp Total"_s, 3885, 300);
    lblTotal = makeLabel(Frame3, u"lblTotal"_s, u"00:00:00"_s, 3960, 600, 750, 240);
    Combo1 = makeComboBox(this, u"Combo1"_s, false, 1560, 6360, 2535, 315);
    // Texts only: the phonebook's entries, which may be many.
    Combo1->setModel(new QStringListModel(Combo1));
    // The entry dialed is the one selected when the list was filled: a key
    // pressed in the unseen list would change it behind the user's back.
    keepOutOfFocus(Combo1);

    connectClicks(this, {{Connect, &frmdial::Connect_Click},
                         {exi, &frmdial::exi_Click},
                         {opt, &frmdial::opt_Click},
                         {Command1, &frmdial::Command1_Click}});
    connect(Combo2, &QComboBox::editTextChanged, this, &frmdial::Combo2_Change);
    connect(Combo3, &QComboBox::editTextChanged, this, &frmdial::Combo3_Change);
    connect(Text1, &QLineEdit::textChanged, this, &frmdial::Text1_Change);
    Combo3->installEventFilter(this);
}

void frmdial::buildMenu()
{
    s = named(new QMenu(u"down"_s, this), u"s"_s);
    auto item = [this](const QString &name, const QString &caption, void (frmdial::*slot)()) {
        QAction *action = named(s->addAction(caption), name);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    auto separator = [this](const QString &name) { return named(s->addSeparator(), name); };
    dial = item(u"dial"_s, u"&Principal"_s, &frmdial::dial_Click);
    dis = item(u"dis"_s, u"&Deconnecter"_s, &frmdial::dis_Click);
    sep2 = separator(u"sep2"_s);
    optio = item(u"optio"_s, u"&Options"_s, &frmdial::optio_Click);
    conn = item(u"conn"_s, u"&Details de la connexion"_s, &frmdial::conn_Click);
    sep = separator(u"sep"_s);
    ab = item(u"ab"_s, u"A Propos"_s, &frmdial::ab_Click);
    sep1 = separator(u"sep1"_s);
    exit = item(u"exit"_s, u"&Quitter"_s, &frmdial::exit_Click);
    exit2 = item(u"exit2"_s, u"Q&uitter et Deconnecte"_s, &frmdial::exit2_Click);
}

void frmdial::buildTimers()
{
    auto timer = [this](const QString &name, int interval, void (frmdial::*slot)()) {
        auto *t = named(new QTimer(this), name);
        t->setInterval(interval);
        connect(t, &QTimer::timeout, this, slot);
        return t;
    };
    Timer1 = timer(u"Timer1"_s, 1000, &frmdial::Timer1_Timer);
    Timer2 = timer(u"Timer2"_s, 500, &frmdial::Timer2_Timer);
    Timer3 = timer(u"Timer3"_s, 0, &frmdial::Timer3_Timer);
    Timer4 = timer(u"Timer4"_s, 1000, &frmdial::Timer4_Timer);
    tms = timer(u"tms"_s, 1, &frmdial::tms_Timer);
    // The redial period is the user's number of seconds, kept to the
    // millisecond rather than to a coarse timer's few percent.
    Timer3->setTimerType(Qt::PreciseTimer);
    // One run each time it is switched on.
    tms->setSingleShot(true);
}

// DialerView

QString frmdial::userName() const
{
    return Combo3->currentText();
}

QString frmdial::password() const
{
    return Text1->text();
}

QString frmdial::phoneNumber() const
{
    return Combo2->currentText();
}

void frmdial::setStatusCaption(const QString &text)
{
    status->setText(text);
}

void frmdial::showCallFailure(DWORD error, const QString &text)
{
    m_endedError = error;
    m_endedWords = text;
    if (error == ERROR_AUTHENTICATION_FAILURE) {
        // The fields are locked while a call is listed: they hold what was dialed.
        m_refusedLogin = RefusedLogin{userName(), password(), text};
        m_pausedUser = userName();
        m_pausedPassword = password();
        status->setText(refusedLoginStatus());
        return;
    }
    status->setText(text);
}

bool frmdial::refusedLoginUnchanged() const
{
    return m_refusedLogin && m_refusedLogin->user == userName() &&
           m_refusedLogin->password == password();
}

// The refusal's words, and with "Auto connect" ticked, that no redial follows.
QString frmdial::refusedLoginStatus() const
{
    if (!m_refusedLogin)
        return {};
    return checkValue(Check2) == 1 ? m_refusedLogin->words + StatusRedialWaits
                                   : m_refusedLogin->words;
}

void frmdial::switchOffTimer2()
{
    Timer2->stop();
}

HWND frmdial::handle() const
{
    return platform::windowHandle(const_cast<frmdial *>(this));
}

int frmdial::checkValue(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

void frmdial::setCheckValue(QCheckBox *box, int value)
{
    static constexpr Qt::CheckState states[3] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    if (value < 0 || value > 2)
        return;
    // The grey state needs a three-state box; the others are plain clicks.
    if (value == 2)
        box->setTristate(true);
    box->setCheckState(states[value]);
}

void frmdial::centreOnScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->geometry().center());
    move(frame.topLeft());
}

// Start-up

void frmdial::Form_Load()
{
    // A settings file or call log that cannot be read or saved is told once,
    // from the event loop, never from inside the read or save.
    StorageNotice::setListener([window = QPointer<frmdial>(this)] {
        if (window)
            QMetaObject::invokeMethod(window, &frmdial::showStorageNotices, Qt::QueuedConnection);
    });

    ComboEntryList entries(Combo1);
    ListPhonebookEntries(entries);

    LoadLoginSettings();

    SoundPlayed = 0;

    TrayIconData = NOTIFYICONDATA{};
    TrayIconData.cbSize = sizeof(NOTIFYICONDATA);
    TrayIconData.hWnd = handle();
    TrayIconData.uID = 1;
    TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIconData.uCallbackMessage = WM_MOUSEMOVE;
    TrayIconData.hIcon = platform::iconHandle(windowIcon());
    setTrayTip(AppTitle + u' ');

    Shell_NotifyIconA(NIM_ADD, &TrayIconData);
    m_trayIconAdded = true;
    // Desktops that draw the icon's menu themselves get the tray menu.
    platform::setTrayMenu(TrayIconData.hWnd, TrayIconData.uID, s);

    // A numeric comparison: "1", " 1" and "1.0" dial, "", "0" and "x" do not.
    if (const auto value = systemNumber(AutoConnectValue); value && *value == 1.0)
        Connect_Click();

    WasConnected = 0;
    SweepPosition = SweepCountdown == 0 ? -1 : 0;

    // The timers run once the window has loaded. Timer3 has no period until
    // Timer4 gives it one.
    Timer1->start();
    Timer4->start();
    tms->start();
}

// One message box for whatever is waiting, even while the window is hidden in
// the tray: each file is told about once per run, so the box never comes back
// every second, and words in the status line would be lost at the next tick.
void frmdial::showStorageNotices()
{
    const QStringList notices = StorageNotice::take();
    if (notices.isEmpty())
        return;
    const QByteArray text = platform::toAnsi(notices.join(u'\n'));
    const QByteArray caption = platform::toAnsi(AppTitle);
    MessageBoxA(handle(), text.constData(), caption.constData(), MB_OK);
}

void frmdial::LoadLoginSettings()
{
    using namespace Settings;
    // Restoring the fields is not an edit: the combo boxes do not prompt.
    {
        const QSignalBlocker blockUser(Combo3);
        Combo3->addItem(ReadIniValue(FileBase, Info, Login));
        Combo3->setCurrentIndex(0);
    }
    {
        const QSignalBlocker blockNumber(Combo2);
        Combo2->addItem(ReadIniValue(FileBase, Info, Number));
        Combo2->setCurrentIndex(0);
    }
    // The password box prompts on every change, this one included.
    Text1->setText(ReadIniValue(FileBase, Info, Password));

    AutoConnectValue = ReadIniValue(FileBase, Info, AutoConnect);
    // Only a whole number from 0 to 2 fits the check box; anything else
    // leaves it as it is and ends the load of the settings here.
    const auto number = systemNumber(AutoConnectValue);
    if (!number)
        return;
    const double whole = roundHalfEven(*number);
    if (whole < 0 || whole > 2)
        return;
    setCheckValue(Check2, static_cast<int>(whole));
    AutoConnectValue = ReadIniValue(FileBase, Info, AutoConnect);
}

void frmdial::SaveLoginSettings()
{
    using namespace Settings;
    WriteIniValue(FileBase, Info, AutoConnect, QString::number(checkValue(Check2)));
    if (checkValue(Check1) == 1) {
        WriteIniValue(FileBase, Info, Login, Combo3->currentText());
        WriteIniValue(FileBase, Info, Number, Combo2->currentText());
        WriteIniValue(FileBase, Info, Password, Text1->text());
    }
}

// Field prompts

void frmdial::Combo2_Change()
{
    status->setText(Combo2->currentText().isEmpty() ? PromptNumberMissingOnEdit : PromptReady);
}

void frmdial::Combo3_Change()
{
    if (Combo3->currentText().isEmpty())
        status->setText(PromptUserMissing);
}

void frmdial::Text1_Change()
{
    if (Text1->text().isEmpty())
        status->setText(PromptPasswordMissing);
    else if (Combo2->currentText().isEmpty())
        status->setText(PromptNumberMissingAfterPassword);
}

void frmdial::Combo3_LostFocus()
{
    // Leaving the user-name field has no effect.
}

// Connect workflow

void frmdial::Connect_Click()
{
    auto refuse = [this](const QString &text) {
        const QScopedValueRollback guard(m_validationBoxOpen, true);
        const QByteArray ansiText = platform::toAnsi(text);
        const QByteArray ansiCaption = platform::toAnsi(AppTitle);
        MessageBoxA(handle(), ansiText.constData(), ansiCaption.constData(), MB_OK);
    };
    if (Combo3->currentText().isEmpty()) {
        refuse(u"Please enter a username.."_s);
        return;
    }
    if (Text1->text().isEmpty()) {
        refuse(u"Please enter your password.."_s);
        return;
    }
    if (Combo2->currentText().isEmpty()) {
        refuse(u"Please enter a number to connect to..."_s);
        return;
    }
    // A value too long to dial is refused before the window locks, so the
    // user sees why and can correct it.
    if (!DialValuesFit(*this)) {
        status->setText(DialFieldTooLongText);
        return;
    }

    // "Connecter" pressed: the user asks for this login again.
    if (!m_redialing)
        m_refusedLogin.reset();
    Timer2->start();
    lockForDial();
    if (!DialEntry(*this, Combo1->itemText(Combo1->currentIndex()))) {
        backToReadyAfterRefusedDial();
        return;
    }
    status->setText(StatusAttempting);
}

// Nothing was dialed (no such entry, an unreadable phonebook, the modem out of
// reach): the status line keeps the reason DialEntry gave, and the window
// goes back to rest as a cancelled call leaves it.
void frmdial::backToReadyAfterRefusedDial()
{
    Timer2->stop();
    if (SweepPosition >= 0 && SweepPosition < static_cast<int>(Shape1.size()))
        Shape1[static_cast<size_t>(SweepPosition)]->setVisible(false);
    unlockFields();
    exi->setText(CaptionClose);
}

void frmdial::lockForDial()
{
    Connect->setEnabled(false);
    opt->setEnabled(false);
    exi->setText(CaptionCancel);
    Combo2->setEnabled(false);
    Combo3->setEnabled(false);
    Text1->setEnabled(false);
    Check1->setEnabled(false);
    Check2->setEnabled(false);
}

void frmdial::unlockFields()
{
    Connect->setEnabled(true);
    opt->setEnabled(true);
    Combo2->setEnabled(true);
    Combo3->setEnabled(true);
    Text1->setEnabled(true);
    Check1->setEnabled(true);
    Check2->setEnabled(true);
}

QString frmdial::connectionSpeedText()
{
    return Forms::details().l1->text();
}

// The connection monitor, once a second.
void frmdial::Timer1_Timer()
{
    m_endedError = 0;
    if (UpdateConnectionStatus(*this)) {
        if (!WaveFilePath.isEmpty() && SoundPlayed == 0)
            PlayWaveFile(WaveFilePath);
        Timer2->stop();
        // Every tick: a window brought back while the line is up hides again,
        // into the tray. On a desktop without a tray nothing would be left
        // to reach the program by: the window stays and says why.
        if (isVisible()) {
            if (platform::desktopHasTray())
                hide();
            else
                status->setText(status->text() + StatusNoTray);
        }
        if (WasConnected == 0) {
            tms->start();
            WasConnected = 1;
        }
        AdvanceDuration(SessionDuration);
        AdvanceDuration(TotalDuration);
        AdvanceDuration(MonthDuration);
        Forms::details().l3->setText(u"Connected"_s);
    } else {
        SoundPlayed = 0;
        Forms::details().l3->setText(u" Not Connected"_s);
        if (WasConnected == 1) {
            // A link whose far end stopped answering with the line still up
            // says so: "Disconnected" would read as an ordinary hang-up.
            const QString dropped =
                m_endedError == ERROR_PPP_TIMEOUT ? m_endedWords : StatusDisconnected;
            status->setText(dropped);
            unlockFields();
            exi->setText(CaptionClose);
            lblMonth->setText(FormatHms(MonthDuration));
            lblTotal->setText(FormatHms(TotalDuration));
            AppendCallLog(CurrentDateText(), ConnectStartTime, CurrentTimeText(),
                          connectionSpeedText());
            // The call's record is on disk before anything else happens.
            FlushCallLog();
            WasConnected = 0;
            // A dropped call stays listed until it is hung up, and a listed
            // call keeps the redial check from dialing again: release it.
            // The hang-up waits in the event loop, so the drop is recorded
            // first and is not seen twice.
            HangUpAll(*this, -1);
            if (status->text() != dropped && Connect->isEnabled())
                status->setText(dropped);
        }
    }

    const QString session = FormatHms(SessionDuration);
    lblSession->setText(session);
    Forms::details().l4->setText(session);
    AppendCallLog(CurrentDateText(), ConnectStartTime, CurrentTimeText(), connectionSpeedText());
    // The tip changes each second while the clock runs; at rest the shell
    // already shows it and is not told it again.
    char shownTip[sizeof TrayIconData.szTip];
    std::memcpy(shownTip, TrayIconData.szTip, sizeof shownTip);
    setTrayTip(AppTitle + u" - "_s + status->text() + session);
    TrayIconData.uFlags = NIF_TIP;
    if (std::memcmp(shownTip, TrayIconData.szTip, sizeof shownTip) != 0)
        Shell_NotifyIconA(NIM_MODIFY, &TrayIconData);
}

// The indicator circles, every half second while dialing: one lit circle runs
// right in red and back left in blue.
void frmdial::Timer2_Timer()
{
    auto circle = [this](int index) -> IndicatorCircle * {
        if (index < 0 || index >= static_cast<int>(Shape1.size()))
            return nullptr;
        return Shape1[static_cast<size_t>(index)];
    };
    if (SweepPosition > SweepCountdown) {
        if (SweepCountdown > 0)
            --SweepCountdown;
        --SweepPosition;
        if (IndicatorCircle *lit = circle(SweepPosition)) {
            lit->setVisible(true);
            lit->setFillColor(CircleBlue);
        }
    } else {
        SweepCountdown = 3;
        ++SweepPosition;
        if (IndicatorCircle *lit = circle(SweepPosition)) {
            lit->setFillColor(CircleRed);
            lit->setVisible(true);
        }
    }
    for (int i = 0; i < static_cast<int>(Shape1.size()); ++i) {
        if (i != SweepPosition)
            Shape1[static_cast<size_t>(i)]->setVisible(false);
    }
}

// The redial check: with "Auto connect" ticked, dial again when no connection
// exists and no dial is under way, unless the ISP refused the login and
// password the fields still hold.
void frmdial::Timer3_Timer()
{
    // A validation message box of an earlier dial is still open.
    if (m_validationBoxOpen)
        return;
    std::vector<RASCONN> connections;
    const DWORD result = platform::listConnections(connections);
    if (result == 0 && connections.empty() && Connect->isEnabled() && checkValue(Check2) == 1) {
        if (m_refusedLogin) {
            const bool typing = userName() != m_pausedUser || password() != m_pausedPassword;
            m_pausedUser = userName();
            m_pausedPassword = password();
            if (refusedLoginUnchanged() || typing)
                return;
        }
        m_refusedLogin.reset();
        const QScopedValueRollback redialing(m_redialing, true);
        Connect_Click();
    }
}

// Keeps the redial check's period equal to the options window's TxtTest
// (seconds), read with the system's number format.
void frmdial::Timer4_Timer()
{
    const auto seconds = systemNumber(Forms::options().TxtTest->text());
    // Text that is not a number, a negative period or one too long for a
    // timer keeps the period in force.
    if (!seconds)
        return;
    const double ms = roundHalfEven(*seconds * 1000.0);
    if (ms < 0 || ms > INT_MAX)
        return;
    const int period = static_cast<int>(ms);
    if (period == 0) {
        // A Qt timer with interval 0 fires continuously; a period of 0 means
        // the check is off.
        Timer3->stop();
        Timer3->setInterval(0);
        return;
    }
    // Applying the same period again must not restart the countdown.
    if (Timer3->isActive() && Timer3->interval() == period)
        return;
    Timer3->start(period);
}

// The post-connect step, once after the load and once per connection.
void frmdial::tms_Timer()
{
    ConnectStartTime = CurrentTimeText();
    LaunchAfterConnect();
    Forms::details().l1->setText(QString::number(ReadConnectSpeed(*this)));
    Forms::details().l2->setText(ActiveEntryName());
    tms->stop();
}

// Tray icon

void frmdial::setTrayTip(const QString &text)
{
    // At most 63 characters, then a NUL; the rest of the field is blanks.
    constexpr int limit = static_cast<int>(sizeof(TrayIconData.szTip)) - 1;
    QString cut = text.left(limit);
    QByteArray ansi = platform::toAnsi(cut);
    while (ansi.size() > limit) {
        cut.chop(1);
        ansi = platform::toAnsi(cut);
    }
    std::memset(TrayIconData.szTip, ' ', sizeof(TrayIconData.szTip));
    std::memcpy(TrayIconData.szTip, ansi.constData(), static_cast<size_t>(ansi.size()));
    TrayIconData.szTip[ansi.size()] = '\0';
    shown_text::noteTrayTip(cut);
}

bool frmdial::event(QEvent *event)
{
    if (event->type() == platform::TrayCallbackEvent::eventType()) {
        const auto *tray = static_cast<platform::TrayCallbackEvent *>(event);
        // The shell puts the mouse message where the X coordinate would be.
        Form_MouseMove(0, 0, static_cast<float>(tray->mouseMessage() * platform::TwipsPerPixelX),
                       0);
        return true;
    }
    return QWidget::event(event);
}

void frmdial::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF at = event->position();
    Form_MouseMove(static_cast<int>(event->buttons()), static_cast<int>(event->modifiers()),
                   static_cast<float>(at.x() * platform::TwipsPerPixelX),
                   static_cast<float>(at.y() * platform::TwipsPerPixelY));
    QWidget::mouseMoveEvent(event);
}

void frmdial::Form_MouseMove(int Button, int Shift, float X, float Y)
{
    Q_UNUSED(Button)
    Q_UNUSED(Shift)
    Q_UNUSED(Y)
    const float code = X / static_cast<float>(platform::TwipsPerPixelX);
    if (code == static_cast<float>(WM_LBUTTONDOWN)) {
        s->hide();
    } else if (code == static_cast<float>(WM_RBUTTONUP)) {
        // 517: the menu opens as the right click ends.
        s->hide();
        if (isVisible())
            return;
        s->exec(QCursor::pos());
    } else if (code == static_cast<float>(WM_LBUTTONDBLCLK)) {
        bringToFront(this);
    }
}

// Menu and buttons

void frmdial::dial_Click()
{
    s->hide();
    bringToFront(this);
}

void frmdial::showOnRequest()
{
    if (m_unloaded)
        return;
    s->hide();
    if (WasConnected == 1)
        conn_Click();
    else
        bringToFront(this);
}

void frmdial::dis_Click()
{
    HangUpAll(*this, -1);
}

void frmdial::optio_Click()
{
    opt_Click();
}

void frmdial::conn_Click()
{
    bringToFront(&Forms::details());
}

void frmdial::ab_Click()
{
    // Already on screen (opened by "?"), it is only raised.
    execOwnedBy(this, &Forms::about());
}

void frmdial::opt_Click()
{
    execOwnedBy(this, &Forms::options());
}

void frmdial::Command1_Click()
{
    frmAbout &about = Forms::about();
    if (raiseIfShown(&about))
        return;
    // Modeless and without owner, even when "A Propos" owned it before.
    if (about.parentWidget())
        about.setParent(nullptr, about.windowFlags());
    bringToFront(&about);
}

void frmdial::Label9_Click()
{
    const QByteArray command = platform::toAnsi(u"Start.exe "_s + MakerWebAddress);
    WinExec(command.constData(), SW_HIDE);
}

void frmdial::exi_Click()
{
    if (exi->text() == CaptionCancel) {
        if (SweepPosition >= 0 && SweepPosition < static_cast<int>(Shape1.size()))
            Shape1[static_cast<size_t>(SweepPosition)]->setVisible(false);
        // After a refused login the status line keeps why no redial follows.
        status->setText(m_refusedLogin && checkValue(Check2) == 1 ? refusedLoginStatus()
                                                                  : StatusCancelled);
        unlockFields();
        exi->setText(CaptionClose);
        HangUpAll(*this, -1);
        return;
    }
    CollapseForm(*this);
    HideOnClose = 0;
    unloadForm();
}

void frmdial::exit_Click()
{
    HideOnClose = 0;
    unloadForm();
}

void frmdial::exit2_Click()
{
    HangUpAll(*this, -1);
    HideOnClose = 0;
    unloadForm();
}

bool frmdial::eventFilter(QObject *watched, QEvent *event)
{
    if (isClick(Label9, watched, event)) {
        Label9_Click();
        return true;
    }
    if (watched == Combo3 && event->type() == QEvent::FocusOut)
        Combo3_LostFocus();
    return QWidget::eventFilter(watched, event);
}

// Shutdown

void frmdial::closeEvent(QCloseEvent *event)
{
    if (m_unloaded || unloadForm())
        event->accept();
    else
        event->ignore();
}

bool frmdial::unloadForm()
{
    if (m_unloaded)
        return true;
    if (HideOnClose != 0) {
        hide();
        return false;
    }
    // The unload runs to its end without yielding.
    if (UpdateConnectionStatus(*this))
        AppendCallLog(CurrentDateText(), ConnectStartTime, CurrentTimeText(),
                      connectionSpeedText());
    FlushCallLog();
    SaveLoginSettings();
    Shell_NotifyIconA(NIM_DELETE, &TrayIconData);
    m_trayIconAdded = false;
    m_unloaded = true;
    Forms::unloadAll();
    for (QTimer *timer : {Timer1, Timer2, Timer3, Timer4, tms})
        timer->stop();
    s->hide();
    hide();
    QCoreApplication::exit(0);
    return true;
}
