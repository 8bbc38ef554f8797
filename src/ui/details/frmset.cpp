#include "ui/details/frmset.h"

#include "engine/dialing.h"
#include "engine/globals.h"
#include "engine/line_status.h"
#include "platform/window_handles.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/dialer/frmdial.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace Controls;

namespace {

constexpr int DesignWidthTwips = 4710;
constexpr int DesignHeightTwips = 4020;
constexpr int TallHeightTwips = 5100;
constexpr int ShortHeightTwips = 3900;
constexpr int StatsPeriodMs = 500;
constexpr int MaxHeightRetries = 5;

const QString ShowOptionsCaption = u"Options >>"_s;
const QString HideOptionsCaption = u"Hide Options"_s;
const QString ArmCaption = u"OK"_s;
const QString ArmedCaption = u"NO"_s;

// "hh:mm:ss" as seconds; nothing when the text is not such a time.
std::optional<qint64> secondsOfClock(const QString &text)
{
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() != 3)
        return std::nullopt;
    qint64 seconds = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (!ok || value < 0 || part.isEmpty() || !part.front().isDigit())
            return std::nullopt;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

} // namespace

frmset::frmset(QWidget *parent) : QDialog(parent)
{
    setUpWindow(this, u"frmset"_s, u"Session"_s, Border::FixedToolWindow, DesignWidthTwips,
                DesignHeightTwips);
    setBackColor(this, QColor(FormGrey));

    Frame1 = makeFrame(this, u"Frame1"_s, QString(), 0, 0, 4695, 2535);

    Label7 = makeLabel(Frame1, u"Label7"_s, u"Etat de la connexion"_s, 480, 360, 1455, 195);
    l3 = makeLabel(Frame1, u"l3"_s, u"Not Connected"_s, 2280, 360, 1065, 210);
    l3->setFont(arialFont(8.25));
    setForeColor(l3, QColor(255, 0, 0));
    Label1 = makeLabel(Frame1, u"Label1"_s, u"Connexion courante:"_s, 480, 720, 1470, 195);
    l2 = makeLabel(Frame1, u"l2"_s, QString(), 2280, 720, 2295, 195);
    Label2 = makeLabel(Frame1, u"Label2"_s, u"Vitesse de connxion:"_s, 480, 1080, 1470, 195);
    l1 = makeLabel(Frame1, u"l1"_s, QString(), 2280, 1080, 2295, 195);
    Label5 = makeLabel(Frame1, u"Label5"_s, u"Bits Envoyées:"_s, 480, 1440, 1050, 195);
    lblXmit = makeLabel(Frame1, u"lblXmit"_s, QString(), 2280, 1440, 2295, 195);
    Label6 = makeLabel(Frame1, u"Label6"_s, u"Bits Recus:"_s, 480, 1800, 810, 195);
    lblRecv = makeLabel(Frame1, u"lblRecv"_s, QString(), 2280, 1800, 2295, 195);
    Label3 = makeLabel(Frame1, u"Label3"_s, u"Connecté depuis :"_s, 480, 2160, 1290, 195);
    l4 = makeLabel(Frame1, u"l4"_s, QString(), 2280, 2160, 2175, 195);

    // One bullet at the left of each row; the sixth sits on the window itself,
    // at the same place, and is raised above the frame so it shows.
    QLabel **bullets[] = {&Picture1, &Picture2, &Picture3, &Picture4, &Picture5, &Picture6};
    for (int row = 0; row < 6; ++row) {
        QWidget *container = row < 5 ? static_cast<QWidget *>(Frame1) : this;
        *bullets[row] = makePicture(container, u"Picture%1"_s.arg(row + 1),
                                    u":/vantelo/bullet.png"_s, 120, 360 + row * 360, 375, 255);
    }
    Picture6->raise();

    Frame5 = makeFrame(this, u"Frame5"_s, u"Deconnexion auto"_s, 0, 2640, 4695, 885);
    Label8 = makeLabel(Frame5, u"Label8"_s, u"Deconnexion près :"_s, 120, 480, 1380, 195);
    Text1 = makeTextBox(Frame5, u"Text1"_s, QString(), 1680, 360, 495, 285);
    nameAfterCaption(Text1, Label8);
    Label4 = makeLabel(Frame5, u"Label4"_s, u"minutes."_s, 2280, 420, 585, 195);
    // Enter in the minutes box must not press a button of its own accord.
    option2 = makeButton(Frame5, u"option2"_s, ArmCaption, 3000, 360, 495, 255);

    Command1 = makeButton(this, u"Command1"_s, u"&Ok"_s, 360, 3600, 1215, 375);
    Command2 = makeButton(this, u"Command2"_s, u"&Disconnect"_s, 1680, 3600, 1215, 375);
    opt = makeButton(this, u"opt"_s, HideOptionsCaption, 3000, 3600, 1215, 375);

    tmrStats = new QTimer(this);
    tmrStats->setObjectName(u"tmrStats"_s);
    tmrStats->setInterval(StatsPeriodMs);

    connect(tmrStats, &QTimer::timeout, this, &frmset::tmrStats_Timer);
    m_statsStart.setSingleShot(true);
    m_statsStart.setTimerType(Qt::PreciseTimer);
    connect(&m_statsStart, &QTimer::timeout, tmrStats, qOverload<>(&QTimer::start));
    connectClicks(this, {{opt, &frmset::opt_Click},
                         {Command1, &frmset::Command1_Click},
                         {Command2, &frmset::Command2_Click},
                         {option2, &frmset::option2_Click}});

    // The timer runs while the window is shown, and while an automatic
    // disconnection is armed: it starts with the first show or the arming.
}

frmset::~frmset() = default;

void frmset::Form_Load()
{
    showByteCounters();
}

void frmset::tmrStats_Timer()
{
    showByteCounters();
    checkAutomaticDisconnection();
}

void frmset::updateStatsTimer(bool shown)
{
    // Nobody sees the counters of a hidden window, and they are read afresh
    // as it is shown; an armed automatic disconnection is watched all along.
    const bool wanted = shown || option2->text() == ArmedCaption;
    if (!wanted) {
        m_statsStart.stop();
        tmrStats->stop();
        return;
    }
    if (tmrStats->isActive() || m_statsStart.isActive())
        return;
    // The counters start ticking with the monitor's next tick, so that from
    // then on every other tick of theirs comes with the clock's: the window
    // is woken and repainted twice a second instead of three times.
    const QTimer *monitor = Forms::dialerLoaded() ? Forms::dialer().Timer1 : nullptr;
    const int untilTick = monitor && monitor->isActive() ? monitor->remainingTime() : 0;
    if (untilTick <= 0)
        tmrStats->start();
    else
        m_statsStart.start(untilTick);
}

void frmset::showByteCounters()
{
    // Each reading is shown as the system keeps it: no baseline, no rate.
    lblXmit->setText(
        QString::number(ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, BytesXmitValue, 0)));
    lblRecv->setText(
        QString::number(ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, BytesRecvdValue, 0)));
}

void frmset::setOuterHeightTwips(int twips)
{
    m_outerHeight = platform::twipsToPixels(twips);
    applyOuterHeight();
}

void frmset::applyOuterHeight()
{
    if (!m_outerHeight)
        return;
    // The frame is the window manager's: it is unknown until the window is
    // shown and framed, which may come after the press, and it may change
    // while the window is shown. Whatever it is now, the client area takes
    // the rest; each new report of the frame lands here again.
    int frameExtra = 0;
    if (const QWindow *window = windowHandle()) {
        const QMargins margins = window->frameMargins();
        // Half-way through the framing the margins can read as nonsense: the
        // report that completes it comes later.
        if (margins.top() < 0 || margins.bottom() < 0 || margins.left() < 0 || margins.right() < 0)
            return;
        frameExtra = margins.top() + margins.bottom();
    }
    const int clientHeight = std::max(1, *m_outerHeight - frameExtra);
    if (minimumHeight() != clientHeight || maximumHeight() != clientHeight) {
        m_heightRetries = 0;
        setFixedSize(width(), clientHeight);
    } else if (height() == clientHeight) {
        m_heightRetries = 0;
    } else if (m_heightRetries < MaxHeightRetries) {
        // The window system answered with another height: a report sent
        // before the request, or the window manager's own idea of the window
        // while it frames it. Ask again, a few times at most, so that a
        // window manager that insists is not fought forever.
        ++m_heightRetries;
        resize(width(), clientHeight);
    }
}

bool frmset::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    switch (event->type()) {
    case QEvent::Show:
        // The window manager's frame may arrive with no move or resize of
        // the window: it is known by the time the window is exposed.
        if (QWindow *window = windowHandle(); window && window != m_watchedWindow) {
            m_watchedWindow = window;
            window->installEventFilter(this);
        }
        // Room for the monitor's " Not Connected", leading blank included.
        // Measured as the window is first shown: the window is loaded
        // within a second of start-up and seldom shown, and its font is
        // loaded only for what is shown.
        widenToFit(l3, u" Not Connected"_s);
        applyOuterHeight();
        showByteCounters();
        updateStatsTimer(true);
        break;
    case QEvent::Hide:
        updateStatsTimer(false);
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        applyOuterHeight();
        break;
    default:
        break;
    }
    return handled;
}

bool frmset::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::Expose)
        applyOuterHeight();
    return QDialog::eventFilter(watched, event);
}

void frmset::opt_Click()
{
    if (opt->text() == ShowOptionsCaption) {
        setOuterHeightTwips(TallHeightTwips);
        opt->setText(HideOptionsCaption);
    } else {
        opt->setText(ShowOptionsCaption);
        setOuterHeightTwips(ShortHeightTwips);
        activateWindow();
        setFocus();
    }
}

void frmset::keyPressEvent(QKeyEvent *event)
{
    // The window closes only through "&Ok", "&Disconnect" or its close box:
    // Escape, typed in the minutes box or anywhere else, must not unload it
    // and lose the armed disconnection.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmset::Command1_Click()
{
    close();
}

void frmset::Command2_Click()
{
    frmdial &dialer = Forms::dialer();
    if (dialer.exi->text() == u"Cancel"_s) {
        // Back to idle as the dialer's own "Cancel" does, but the indicator
        // circles and the entry list are left as they are.
        dialer.status->setText(u" Please Click Connect to begin Dialing.."_s);
        dialer.Connect->setEnabled(true);
        dialer.opt->setEnabled(true);
        dialer.Combo2->setEnabled(true);
        dialer.Combo3->setEnabled(true);
        dialer.Text1->setEnabled(true);
        dialer.Check1->setEnabled(true);
        dialer.Check2->setEnabled(true);
        dialer.exi->setText(u"Close"_s);
        // The hang-up waits in the event loop, where this window may be closed.
        QPointer<frmset> self(this);
        HangUpAll(dialer, -1);
        if (self)
            close();
    } else {
        HideOnClose = 1;
        close();
    }
}

void frmset::option2_Click()
{
    if (option2->text() == ArmCaption) {
        bool ok = false;
        const int minutes = Text1->text().trimmed().toInt(&ok, 10);
        if (!ok || minutes < 1)
            return; // nothing to arm: the caption keeps saying "OK"
        m_disconnectAfterSeconds = static_cast<qint64>(minutes) * 60;
        m_armedAtSeconds = secondsOfClock(l4->text());
        option2->setText(ArmedCaption);
    } else {
        option2->setText(ArmCaption);
        m_armedAtSeconds.reset();
    }
    updateStatsTimer(isVisible());
}

void frmset::checkAutomaticDisconnection()
{
    if (option2->text() != ArmedCaption)
        return;
    // l4 copies the session clock, which only runs while the line is up, so
    // its progress since arming is the time on line since arming.
    const std::optional<qint64> now = secondsOfClock(l4->text());
    if (!now)
        return;
    if (!m_armedAtSeconds || *now < *m_armedAtSeconds) {
        m_armedAtSeconds = now;
        return;
    }
    if (*now - *m_armedAtSeconds < m_disconnectAfterSeconds)
        return;
    // Disarm first: the hang-up yields to the event loop, where this timer
    // fires again.
    option2->setText(ArmCaption);
    m_armedAtSeconds.reset();
    updateStatsTimer(isVisible());
    HangUpAll(Forms::dialer(), -1);
}
