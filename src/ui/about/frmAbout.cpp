#include "ui/about/frmAbout.h"

#include "engine/globals.h"
#include "platform/ansi.h"
#include "platform/shell.h"
#include "ui/common/controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;
using namespace Controls;

namespace {

constexpr int DesignWidthTwips = 5100;
constexpr int DesignHeightTwips = 3525;

// Title and version: dark green on pale yellow.
void paintTitleLabel(QLabel *label)
{
    label->setFont(arialFont(9.75));
    setForeColor(label, QColor(0, 128, 0));
    setBackColor(label, QColor(252, 254, 188));
}

} // namespace

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setUpWindow(this, u"frmAbout"_s, u"A propos"_s, Border::FixedToolWindow, DesignWidthTwips,
                DesignHeightTwips);

    Frame1 = makeFrame(this, u"Frame1"_s, QString(), 0, 0, 5055, 3015);

    picMainSkin =
        makePicture(Frame1, u"picMainSkin"_s, u":/vantelo/banner.png"_s, 120, 240, 4875, 1980);

    // The address overlaps the end of the caption's place by design: the
    // caption keeps its place, the address takes the width it needs and
    // keeps clear of the caption, as nothing lies to its right.
    Label1 = makeLabel(picMainSkin, u"Label1"_s, u"Telecharger la derniere mise à jour sur :"_s,
                       120, 1560, 3135, 255, Fit::KeepPlace);
    Label2 = makeLabel(picMainSkin, u"Label2"_s, MakerWebHost, 3000, 1560, 1695, 255);
    Label2->setFont(arialFont(8.25, true));
    widenToFit(Label2, Label2->text());
    keepClearOfCaption(Label1, Label2);
    setForeColor(Label2, QColor(0, 0, 255));
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->installEventFilter(this);

    lblTitle = makeLabel(Frame1, u"lblTitle"_s, u"Application Title"_s, 480, 2280, 3885, 240);
    paintTitleLabel(lblTitle);
    lblVersion = makeLabel(Frame1, u"lblVersion"_s, u"Version"_s, 480, 2640, 3885, 225);
    paintTitleLabel(lblVersion);

    cmdOK = makeButton(this, u"cmdOK"_s, u"OK"_s, 1800, 3120, 1260, 345, EnterKey::Presses);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load()
{
    setWindowTitle(u"About "_s + AppTitle);
    lblVersion->setText(u"Version %1.%2.%3"_s.arg(AppMajor).arg(AppMinor).arg(AppRevision));
    lblTitle->setText(AppTitle);
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::Label2_Click()
{
    // Started hidden and not waited for; a missing opener changes nothing here.
    WinExec(platform::toAnsi(u"Start.exe "_s + MakerWebAddress).constData(), SW_HIDE);
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (isClick(Label2, watched, event)) {
        Label2_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
