#pragma once

// The about window: the application's title and version over a banner, and
// the maker's web address, which opens in the browser when clicked.

#include <QDialog>
#include <QString>

class QGroupBox;
class QLabel;
class QPushButton;

// The maker's web site: its host name is what the windows show, the address
// is what a click opens.
inline const QString MakerWebHost = QStringLiteral("vantelo.example.org");
inline const QString MakerWebAddress = QStringLiteral("https://vantelo.example.org/");

class frmAbout final : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

    // Controls, under their design names.
    QGroupBox *Frame1 = nullptr;
    QLabel *picMainSkin = nullptr; // banner
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr; // the maker's address, clickable
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QPushButton *cmdOK = nullptr;

    void Form_Load();

public slots:
    void cmdOK_Click();
    void Label2_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
