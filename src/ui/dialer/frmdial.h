#pragma once

// The dialer window: login fields, status line, indicator circles, clocks,
// the Connect workflow and the timers that watch the line, the tray icon, its
// menu and shutdown.
//
// Controls are public members under their design names: the other windows
// work on them directly (the details window's "&Disconnect" resets them).

#include "engine/dialer_view.h"

#include <QWidget>

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPushButton;
class QTimer;

class IndicatorCircle; // one round shape of Shape1

class frmdial final : public QWidget, public DialerView
{
    Q_OBJECT

public:
    explicit frmdial(QWidget *parent = nullptr);
    ~frmdial() override;

    // DialerView
    QString userName() const override;
    QString password() const override;
    QString phoneNumber() const override;
    void setStatusCaption(const QString &text) override;
    void showCallFailure(DWORD error, const QString &text) override;
    void switchOffTimer2() override;
    HWND handle() const override;

    // Controls, under their design names.
    QLabel *Image3 = nullptr;
    std::array<IndicatorCircle *, 5> Shape1{};
    QGroupBox *Frame2 = nullptr;
    QLabel *Label1 = nullptr;
    QComboBox *Combo3 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *Combo2 = nullptr;
    QLabel *Label6 = nullptr;
    QCheckBox *Check1 = nullptr;
    QCheckBox *Check2 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QLabel *status = nullptr; // the status line
    QPushButton *Connect = nullptr;
    QPushButton *exi = nullptr;
    QPushButton *opt = nullptr;
    QPushButton *Command1 = nullptr;
    QLabel *Label8 = nullptr;
    QLabel *Label9 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *lblSession = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *lblMonth = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *lblTotal = nullptr;
    QComboBox *Combo1 = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer3 = nullptr;
    QTimer *Timer4 = nullptr;
    QTimer *tms = nullptr;

    // The tray pop-up menu and its items (never shown as a menu bar).
    QMenu *s = nullptr;
    QAction *dial = nullptr;
    QAction *dis = nullptr;
    QAction *sep2 = nullptr;
    QAction *optio = nullptr;
    QAction *conn = nullptr;
    QAction *sep = nullptr;
    QAction *ab = nullptr;
    QAction *sep1 = nullptr;
    QAction *exit = nullptr;
    QAction *exit2 = nullptr;

    // Members.
    QString ConnectStartTime;
    qint16 WasConnected = 0;
    qint16 SweepPosition = 0;
    qint16 SweepCountdown = 0;
    QString AutoConnectValue;

    void Form_Load();
    // Shows the storage notices waiting (files that cannot be read or saved).
    void showStorageNotices();
    void LoadLoginSettings();
    void SaveLoginSettings();

    // The window's unload. With HideOnClose set it only hides the window and
    // returns false. Otherwise it logs a call still up, stores the login
    // fields, removes the tray icon, unloads the other windows, stops every
    // timer and ends the program; it returns true.
    bool unloadForm();
    bool isUnloaded() const { return m_unloaded; }

    // Check box values as the settings file keeps them: 0 unchecked,
    // 1 checked, 2 grey.
    static int checkValue(const QCheckBox *box);
    static void setCheckValue(QCheckBox *box, int value);

    // Puts the window in the middle of the screen.
    void centreOnScreen();

public slots:
    void Connect_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void tms_Timer();
    void Combo2_Change();
    void Combo3_Change();
    void Text1_Change();
    void Combo3_LostFocus();

    // The tray icon's mouse activity arrives here with X = the mouse message
    // times the twips per pixel, as real mouse moves over the window do.
    void Form_MouseMove(int Button, int Shift, float X, float Y);
    void exi_Click();
    void opt_Click();
    void Command1_Click();
    void Label9_Click();
    void dial_Click();
    void dis_Click();
    void optio_Click();
    void conn_Click();
    void ab_Click();
    void exit_Click();
    void exit2_Click();

    // Another start of the program asked this one to show itself: the
    // dialer window as the tray's "Principal" shows it, or, while the line is
    // up (the monitor keeps the dialer hidden then), the connection details.
    void showOnRequest();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void buildControls();
    void buildMenu();
    void buildTimers();
    void lockForDial();
    void unlockFields();
    void backToReadyAfterRefusedDial();
    void setTrayTip(const QString &text);
    QString connectionSpeedText();

    bool m_unloaded = false;
    bool m_trayIconAdded = false;
    // Set while Connect_Click shows a validation message box: its nested loop
    // lets the redial check fire, which must not open a second box.
    bool m_validationBoxOpen = false;

    // A login and password the ISP refused (error 691). The redial check does
    // not dial them again (ISPs lock an account after a few failed logins):
    // it waits until either field differs or "Connecter" is pressed.
    struct RefusedLogin
    {
        QString user;
        QString password;
        QString words; // the refusal as the status line showed it
    };
    std::optional<RefusedLogin> m_refusedLogin;
    // The fields as the previous redial check found them during the pause: a
    // new login or password is dialed only once it has stayed the same for a
    // whole period, not while it is being typed.
    QString m_pausedUser;
    QString m_pausedPassword;
    bool refusedLoginUnchanged() const;
    QString refusedLoginStatus() const;
    // Set while the redial check runs the Connect workflow.
    bool m_redialing = false;
    // The error and words of the ended call the monitor's latest look found
    // (0 when the call had not ended with an error).
    DWORD m_endedError = 0;
    QString m_endedWords;
};
