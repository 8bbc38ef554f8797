#include "ui/options/frmopt.h"

#include "engine/globals.h"
#include "platform/ansi.h"
#include "platform/dialogs.h"
#include "platform/window_handles.h"
#include "services/ini.h"
#include "services/post_connect.h"
#include "ui/common/controls.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

using namespace Qt::StringLiterals;
using namespace Controls;

namespace {

constexpr int DesignWidthTwips = 5730;
constexpr int DesignHeightTwips = 4800;

// Display names and patterns of the sound file dialog, each followed by a NUL.
const QString SoundFileFilter =
    QStringLiteral("Wave sounds (*.wav)\0*.wav\0All files (*.*)\0*.*\0");

// An option button drawn as a push button: one of a group, checked when selected.
QPushButton *makePageButton(QWidget *parent, const QString &name, const QString &text, int left,
                            int top, int width, int height)
{
    QPushButton *button = makeButton(parent, name, text, left, top, width, height);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    button->setFont(formFont(true));
    return button;
}

// Tab stops on the selected button of a group (on any of them while none is
// selected); the arrow keys move the choice within it.
void tabStopsOnTheSelected(QButtonGroup *group, std::initializer_list<QAbstractButton *> buttons)
{
    for (QAbstractButton *button : buttons)
        group->addButton(button);
    auto update = [group] {
        const bool chosen = group->checkedButton() != nullptr;
        for (QAbstractButton *button : group->buttons())
            button->setFocusPolicy(!chosen || button->isChecked() ? Qt::StrongFocus
                                                                  : Qt::ClickFocus);
    };
    QObject::connect(group, &QButtonGroup::buttonToggled, group, update);
    update();
}

} // namespace

frmopt::frmopt(QWidget *parent) : QDialog(parent)
{
    setUpWindow(this, u"frmopt"_s, u"Options..."_s, Border::FixedToolWindow, DesignWidthTwips,
                DesignHeightTwips);

    Option6 = makePageButton(this, u"Option6"_s, u"General"_s, 120, 120, 2535, 375);
    Option7 = makePageButton(this, u"Option7"_s, u"Connection"_s, 3000, 120, 2655, 375);

    // Page "Connection".
    Picture1 = named(new QWidget(this), u"Picture1"_s);
    placeTwips(Picture1, 0, 600, 5775, 3615);
    Picture3 =
        makePicture(Picture1, u"Picture3"_s, u":/vantelo/options_connection.png"_s, 0, 0, 735, 855);
    Frame3 = makeFrame(Picture1, u"Frame3"_s, u"Connexion par defaut"_s, 840, 120, 4815, 1095);
    Label6 = makeLabel(Frame3, u"Label6"_s, u"Numérotation:"_s, 120, 600, 990, 195);
    Option1 = makeOptionButton(Frame3, u"Option1"_s, u"Tonalité"_s, 1560, 600, 1215, 255);
    Option2 = makeOptionButton(Frame3, u"Option2"_s, u"Inpulsion"_s, 3000, 600, 1215, 255);
    Frame1 = makeFrame(Picture1, u"Frame1"_s, u"Lancer une application une fois connecté"_s, 840,
                       1320, 4815, 2175);
    List1 = named(new QListWidget(Frame1), u"List1"_s);
    placeTwips(List1, 120, 360, 3135, 1620);
    setSpokenName(List1, u"Applications à lancer"_s);
    Command1 = makeButton(Frame1, u"Command1"_s, u"Ajouté"_s, 3360, 360, 1335, 372);
    Command2 = makeButton(Frame1, u"Command2"_s, u"Supprimé"_s, 3360, 960, 1332, 372);

    // Page "General".
    Picture2 = named(new QWidget(this), u"Picture2"_s);
    placeTwips(Picture2, 0, 600, 5775, 3615);
    Picture4 = makePicture(Picture2, u"Picture4"_s, u":/vantelo/options_general.png"_s, 120, 120,
                           615, 735);
    Frame2 = makeFrame(Picture2, u"Frame2"_s, u"Connexion"_s, 840, 120, 4815, 1095);
    Label10 =
        makeLabel(Frame2, u"Label10"_s, u"Testé si déconnecté tous les :"_s, 240, 600, 2055, 255);
    TxtTest = makeTextBox(Frame2, u"TxtTest"_s, u"5"_s, 2400, 480, 495, 285);
    keepClearOfCaption(Label10, TxtTest);
    nameAfterCaption(TxtTest, Label10);
    Label11 = makeLabel(Frame2, u"Label11"_s, u"seconde(s)"_s, 3000, 600, 975, 255);
    Frame6 = makeFrame(Picture2, u"Frame6"_s, u"Connecté à internet"_s, 840, 1320, 4815, 975);
    Label8 = makeLabel(Frame6, u"Label8"_s, u"Jouer : "_s, 120, 480, 525, 195);
    Text4 = makeTextBox(Frame6, u"Text4"_s, QString(), 720, 360, 2655, 288);
    nameAfterCaption(Text4, Label8);
    Command11 = makePictureButton(Frame6, u"Command11"_s, u":/vantelo/browse.png"_s,
                                  u"Choose the sound file"_s, 3360, 360, 375, 300);
    Command13 = makePictureButton(Frame6, u"Command13"_s, u":/vantelo/play.png"_s,
                                  u"Play the sound file"_s, 3840, 360, 375, 300);
    Command12 = makeButton(Frame6, u"Command12"_s, u"OK"_s, 4320, 360, 375, 300);

    Command9 = makeButton(this, u"Command9"_s, u"&Ok"_s, 960, 4320, 1215, 375);
    Command8 = makeButton(this, u"Command8"_s, u"&Cancel"_s, 2280, 4320, 1215, 375);
    Command3 = makeButton(this, u"Command3"_s, u"&Apply"_s, 3600, 4320, 1215, 375);

    // Each pair is a group of its own: left to themselves, exclusive buttons
    // of one window are taken as one group when Qt decides which of them Tab
    // stops on, and choosing a page took the Tab stop from the dialing type.
    tabStopsOnTheSelected(new QButtonGroup(this), {Option6, Option7});
    tabStopsOnTheSelected(new QButtonGroup(Frame3), {Option1, Option2});

    connectClicks(this, {{Option6, &frmopt::Option6_Click},
                         {Option7, &frmopt::Option7_Click},
                         {Command3, &frmopt::Command3_Click},
                         {Command9, &frmopt::Command9_Click},
                         {Command8, &frmopt::Command8_Click},
                         {Command1, &frmopt::Command1_Click},
                         {Command2, &frmopt::Command2_Click},
                         {Command11, &frmopt::Command11_Click},
                         {Command13, &frmopt::Command13_Click}});
}

frmopt::~frmopt() = default;

void frmopt::Form_Load()
{
    Option6->setChecked(true);
    Option6_Click();

    Text4->setText(ReadIniValue(Settings::FileBase, Settings::General, Settings::SoundFile));
    // The stored sound is the one played once connected.
    WaveFilePath = Text4->text();

    // An empty or non-numeric value leaves the dialing type as it was.
    bool ok = false;
    const qint16 dialType =
        ReadIniValue(Settings::FileBase, Settings::Connection, Settings::DialingType)
            .trimmed()
            .toShort(&ok, 10);
    if (ok)
        DialType = dialType;
    if (DialType == 1)
        Option1->setChecked(true);
    else
        Option2->setChecked(true);

    TxtTest->setText(ReadIniValue(Settings::FileBase, Settings::General, Settings::RedialPeriod));
}

void frmopt::Option6_Click()
{
    Picture2->show();
    Picture1->hide();
    Option7->setChecked(false);
}

void frmopt::Option7_Click()
{
    Picture1->show();
    Picture2->hide();
    Option6->setChecked(false);
}

void frmopt::Command3_Click()
{
    // Written as they stand; the new dialing type reaches DialType at the next load.
    WriteIniValue(Settings::FileBase, Settings::Connection, Settings::DialingType,
                  Option1->isChecked() ? u"1"_s : u"2"_s);
    WriteIniValue(Settings::FileBase, Settings::General, Settings::RedialPeriod, TxtTest->text());
    WriteIniValue(Settings::FileBase, Settings::General, Settings::SoundFile, Text4->text());
    WaveFilePath = Text4->text();
}

void frmopt::Command9_Click()
{
    Command3_Click();
    close();
}

void frmopt::Command8_Click()
{
    close();
}

void frmopt::Command1_Click()
{
    showNotAvailable();
}

void frmopt::Command2_Click()
{
    showNotAvailable();
}

void frmopt::showNotAvailable()
{
    MessageBoxA(platform::windowHandle(this), platform::toAnsi(u"Pas disponible"_s).constData(),
                platform::toAnsi(AppTitle).constData(), MB_OK | MB_ICONINFORMATION);
}

void frmopt::Command11_Click()
{
    // The dialog runs its own event loop, where this window may be closed.
    QPointer<frmopt> self(this);
    const QString path =
        BrowseForFile(platform::windowHandle(this), u"Choose the sound file"_s, SoundFileFilter);
    if (self)
        Text4->setText(path); // a cancelled dialog empties the path
}

void frmopt::Command13_Click()
{
    if (!Text4->text().isEmpty())
        PlayWaveFile(Text4->text());
}
