#include "ui/about/frmAbout.h"

#include "engine/globals.h"
#include "platform/ansi.h"
#include "platform/shell.h"
#include "platform/window_handles.h"
#include "ui/common/twips.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

constexpr int DesignWidthTwips = 5100;
constexpr int DesignHeightTwips = 3525;

QFont arialFont(qreal points, bool bold)
{
    QFont font(u"Arial"_s);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, int left, int top,
                  int width, int height)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(label, left, top, width, height);
    return label;
}

// Title and version: dark green on pale yellow.
void paintTitleLabel(QLabel *label)
{
    label->setFont(arialFont(9.75, false));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 128, 0));
    pal.setColor(QPalette::Window, QColor(252, 254, 188));
    label->setPalette(pal);
    label->setAutoFillBackground(true);
}

} // namespace

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(u"frmAbout"_s);
    setWindowTitle(u"A propos"_s);
    // A fixed tool window: thin title bar, close box, no resizing.
    setWindowFlags(Qt::Tool | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // MS Sans Serif 8 pt in spirit: a font of its width where one exists.
    QFont font = QApplication::font();
    font.setFamilies({u"Microsoft Sans Serif"_s, u"Arial"_s, u"Liberation Sans"_s, u"Nimbus Sans"_s,
                      font.family()});
    font.setPointSizeF(8);
    setFont(font);
    setFixedSize(platform::twipsToPixels(DesignWidthTwips),
                 platform::twipsToPixels(DesignHeightTwips));

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(u"Frame1"_s);
    placeTwips(Frame1, 0, 0, 5055, 3015);

    picMainSkin = makeLabel(Frame1, u"picMainSkin"_s, QString(), 120, 240, 4875, 1980);
    picMainSkin->setPixmap(QPixmap(u":/vantelo/banner.png"_s));

    Label1 = makeLabel(picMainSkin, u"Label1"_s, u"Telecharger la derniere mise à jour sur :"_s,
                       120, 1560, 3135, 255);
    Label2 = makeLabel(picMainSkin, u"Label2"_s, MakerWebHost, 3000, 1560, 1695, 255);
    Label2->setFont(arialFont(8.25, true));
    QPalette blue = Label2->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label2->setPalette(blue);
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->installEventFilter(this);
    // Nothing lies to the right of the address: let it take the width it needs.
    Label2->resize(qMax(Label2->width(), Label2->sizeHint().width()), Label2->height());

    lblTitle = makeLabel(Frame1, u"lblTitle"_s, u"Application Title"_s, 480, 2280, 3885, 240);
    paintTitleLabel(lblTitle);
    lblVersion = makeLabel(Frame1, u"lblVersion"_s, u"Version"_s, 480, 2640, 3885, 225);
    paintTitleLabel(lblVersion);

    cmdOK = new QPushButton(u"OK"_s, this);
    cmdOK->setObjectName(u"cmdOK"_s);
    placeTwips(cmdOK, 1800, 3120, 1260, 345);

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
    // A click: the left button released over the label it was pressed on.
    if (watched == Label2 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            Label2->rect().contains(mouse->position().toPoint())) {
            Label2_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
