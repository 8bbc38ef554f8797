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
    QString statusCaption() const override;
    void setStatusCaption(const QString &text) override;
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

    // Members.
    QString ConnectStartTime;
    qint16 WasConnected = 0;
    qint16 SweepPosition = 0;
    qint16 SweepCountdown = 0;
    QString AutoConnectValue;

    void Form_Load();
    void LoadLoginSettings();
    void SaveLoginSettings();

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
};
