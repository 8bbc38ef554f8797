#pragma once

// The connection details window "Session": the line state, entry name,
// connect speed and time on line that the dialer window's monitor writes into
// l1..l4, the adapter's byte counters it reads itself twice a second while it
// is shown, "&Disconnect", and the automatic-disconnection panel.

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <optional>

class QEvent;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QWindow;

class frmset final : public QDialog
{
    Q_OBJECT

public:
    explicit frmset(QWidget *parent = nullptr);
    ~frmset() override;

    // Controls, under their design names.
    QGroupBox *Frame1 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *l3 = nullptr; // line state, written by the monitor
    QLabel *Label1 = nullptr;
    QLabel *l2 = nullptr; // entry name of the active connection
    QLabel *Label2 = nullptr;
    QLabel *l1 = nullptr; // connect speed; the call log reads it back
    QLabel *Label5 = nullptr;
    QLabel *lblXmit = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *lblRecv = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *l4 = nullptr; // time on line, hh:mm:ss
    QLabel *Picture1 = nullptr;
    QLabel *Picture2 = nullptr;
    QLabel *Picture3 = nullptr;
    QLabel *Picture4 = nullptr;
    QLabel *Picture5 = nullptr;
    QLabel *Picture6 = nullptr;
    QGroupBox *Frame5 = nullptr;
    QLabel *Label8 = nullptr;
    QLineEdit *Text1 = nullptr; // minutes before the automatic disconnection
    QLabel *Label4 = nullptr;
    QPushButton *option2 = nullptr; // "OK" disarmed, "NO" armed
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *opt = nullptr;
    QTimer *tmrStats = nullptr;

    void Form_Load();

public slots:
    void tmrStats_Timer();
    void opt_Click();
    void Command1_Click();
    void Command2_Click();
    void option2_Click();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showByteCounters();
    void checkAutomaticDisconnection();
    // Runs tmrStats while the window is shown or an automatic disconnection
    // is armed, in step with the dialer's monitor, and stops it otherwise.
    void updateStatsTimer(bool shown);
    // Sets the window's outer height (title bar and borders included), now
    // and again whenever the window manager reports the frame or changes it.
    void setOuterHeightTwips(int twips);
    void applyOuterHeight();

    // The armed automatic disconnection: the minutes typed when it was armed,
    // and the time on line (seconds) it counts from, taken at the arming click
    // or, when l4 could not be read then, at the first tick that can read it.
    qint64 m_disconnectAfterSeconds = 0;
    std::optional<qint64> m_armedAtSeconds;
    // The outer height (pixels) the options button asked for; until it is
    // pressed the window keeps its design client area.
    std::optional<int> m_outerHeight;
    int m_heightRetries = 0;
    QPointer<QWindow> m_watchedWindow;
    // Starts tmrStats at the monitor's next tick.
    QTimer m_statsStart;
};
