#pragma once

// The options window "Options...": dialing type, redial check period and the
// sound played once connected, on two pages, "General" and "Connection".
// While loaded, hidden or shown, it is also where the program keeps the redial
// period (TxtTest, read every second by the dialer window) and its load is
// what sets the dialing type.

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;

class frmopt final : public QDialog
{
    Q_OBJECT

public:
    explicit frmopt(QWidget *parent = nullptr);
    ~frmopt() override;

    // Controls, under their design names.
    QPushButton *Option6 = nullptr; // page "General"
    QPushButton *Option7 = nullptr; // page "Connection"
    QWidget *Picture1 = nullptr;    // page "Connection"
    QLabel *Picture3 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QLabel *Label6 = nullptr;
    QRadioButton *Option1 = nullptr; // tone
    QRadioButton *Option2 = nullptr; // pulse
    QGroupBox *Frame1 = nullptr;
    QListWidget *List1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QWidget *Picture2 = nullptr; // page "General"
    QLabel *Picture4 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *Label10 = nullptr;
    QLineEdit *TxtTest = nullptr; // redial check period in seconds
    QLabel *Label11 = nullptr;
    QGroupBox *Frame6 = nullptr;
    QLabel *Label8 = nullptr;
    QLineEdit *Text4 = nullptr; // sound file played once connected
    QPushButton *Command11 = nullptr;
    QPushButton *Command13 = nullptr;
    QPushButton *Command12 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command8 = nullptr;
    QPushButton *Command3 = nullptr;

    void Form_Load();

public slots:
    void Option6_Click();
    void Option7_Click();
    void Command3_Click();
    void Command9_Click();
    void Command8_Click();
    void Command1_Click();
    void Command2_Click();
    void Command11_Click();
    void Command13_Click();

private:
    void showNotAvailable();
};
