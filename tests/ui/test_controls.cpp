// How the windows build their controls: the program's images and font, the
// window borders, the makers' sizing and Enter key, and, in every window,
// captions that show whole.

#include "forms_test.h"
#include "platform/seams.h"
#include "ui/about/frmAbout.h"
#include "ui/common/controls.h"
#include "ui/common/cursor_rest.h"
#include "ui/common/forms.h"
#include "ui/common/shown_text.h"
#include "ui/details/frmset.h"
#include "ui/dialer/frmdial.h"
#include "ui/options/frmopt.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QStringList Images = {u"vantelo.png"_s,
                            u"logo.png"_s,
                            u"icon-16.png"_s,
                            u"icon-48.png"_s,
                            u"icon-128.png"_s,
                            u"bullet.png"_s,
                            u"options_connection.png"_s,
                            u"options_general.png"_s,
                            u"browse.png"_s,
                            u"play.png"_s,
                            u"banner.png"_s};

// Faces with the metrics the windows are laid out for.
const QStringList LayoutFaces = {u"Microsoft Sans Serif"_s, u"Arial"_s, u"Liberation Sans"_s,
                                 u"Nimbus Sans"_s};

QString where(const QWidget *w)
{
    return w->window()->objectName() + u'.' + w->objectName();
}

bool overlapsVertically(const QRect &a, const QRect &b)
{
    return a.top() <= b.bottom() && b.top() <= a.bottom();
}

// Every caption of a window that does not show whole: cut by its own box or
// its container, or run into by a control on its right.
QStringList cutCaptions(const QWidget &window)
{
    QStringList found;
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (label->text().isEmpty() || label->wordWrap())
            continue;
        const QFontMetrics metrics = label->fontMetrics();
        const int width = metrics.horizontalAdvance(label->text());
        const QRect text(label->x(), label->y(), width, metrics.height());
        if (width > label->width())
            found << where(label) + u" is wider than its box"_s;
        if (text.right() >= label->parentWidget()->width())
            found << where(label) + u" runs out of its container"_s;
        for (const QObject *child : label->parentWidget()->children()) {
            const auto *other = qobject_cast<const QWidget *>(child);
            if (!other || other == label || other->x() <= label->x())
                continue;
            if (other->x() <= text.right() && overlapsVertically(text, other->geometry()))
                found << where(label) + u" runs into "_s + other->objectName();
        }
    }
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        if (button->text().isEmpty())
            continue;
        const bool push = qobject_cast<const QPushButton *>(button) != nullptr;
        // A push button's caption wants a little room either side.
        const int needed =
            push ? button->fontMetrics().horizontalAdvance(QString(button->text()).remove(u'&')) + 6
                 : button->sizeHint().width();
        if (needed > button->width())
            found << where(button) + u" is too narrow for its caption"_s;
    }
    for (const QGroupBox *frame : window.findChildren<QGroupBox *>()) {
        // The caption stands a little in from the frame's left edge.
        if (!frame->title().isEmpty() &&
            frame->fontMetrics().horizontalAdvance(frame->title()) + 16 > frame->width())
            found << where(frame) + u" is too narrow for its caption"_s;
    }
    return found;
}

} // namespace

class TestControls final : public FormsTest
{
    Q_OBJECT

private slots:
    void everyImageIsRegistered()
    {
        Controls::registerImages();
        Controls::registerImages(); // a second call changes nothing
        for (const QString &image : Images)
            QVERIFY2(!QPixmap(u":/vantelo/"_s + image).isNull(), qPrintable(image));
    }

    void initTestCase() { Controls::useFormFont(); } // as main() does

    void oneFontWithTheLayoutsMetrics()
    {
        const QFont font = Controls::formFont();
        // It names the faces of those metrics this machine has, in order, and
        // no face it lacks: Qt would search every font for a missing one's
        // fallbacks before trying the next.
        const QStringList installed = QFontDatabase::families();
        QStringList expected;
        for (const QString &face : LayoutFaces) {
            if (installed.contains(face, Qt::CaseInsensitive))
                expected.append(face);
        }
        QCOMPARE(font.families().mid(0, expected.size()), expected);
        for (const QString &face : font.families())
            QVERIFY2(installed.contains(face, Qt::CaseInsensitive), qPrintable(face));
        QCOMPARE(font.pointSizeF(), 8.0);
        QVERIFY(!font.bold());
        QVERIFY(Controls::formFont(true).bold());
        // Every control inherits it.
        QLabel label(u"x"_s);
        QCOMPARE(label.font(), font);
        // This machine has a face of those metrics, for both fonts.
        QVERIFY2(LayoutFaces.contains(QFontInfo(font).family()),
                 qPrintable(QFontInfo(font).family()));
        const QFont arial = Controls::arialFont(8.25, true);
        QVERIFY(LayoutFaces.contains(QFontInfo(arial).family()));
        QStringList arialFaces = expected;
        arialFaces.removeAll(u"Microsoft Sans Serif"_s);
        if (!arialFaces.isEmpty())
            QCOMPARE(arial.families(), arialFaces);
        QCOMPARE(arial.pointSizeF(), 8.25);
        QVERIFY(arial.bold());
    }

    void toolWindowsAndTheDialersBorder()
    {
        const QList<QWidget *> tools = {&Forms::details(), &Forms::options(), &Forms::about()};
        for (QWidget *w : tools) {
            const Qt::WindowFlags flags = w->windowFlags();
            QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
            QVERIFY(flags & Qt::WindowCloseButtonHint);
            QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            QCOMPARE(w->minimumSize(), w->maximumSize());
        }
        frmdial dialer;
        const Qt::WindowFlags flags = dialer.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dialer.minimumSize(), dialer.maximumSize());
    }

    void labelsAndPicturesKeepOrTakeTheirPlace()
    {
        QWidget parent;
        const QString longCaption = u"A caption far wider than its place"_s;
        // 300 x 195 twips: 20 x 13 pixels.
        QLabel *widened = Controls::makeLabel(&parent, u"a"_s, longCaption, 150, 30, 300, 195);
        QCOMPARE(widened->objectName(), u"a"_s);
        QCOMPARE(widened->pos(), QPoint(10, 2));
        QCOMPARE(widened->height(), 13);
        QVERIFY(widened->width() > widened->fontMetrics().horizontalAdvance(longCaption));
        QLabel *kept = Controls::makeLabel(&parent, u"b"_s, longCaption, 0, 0, 300, 195,
                                           Controls::Fit::KeepPlace);
        QCOMPARE(kept->size(), QSize(20, 13));
        // Never narrower than its place.
        QLabel *wide = Controls::makeLabel(&parent, u"c"_s, u"x"_s, 0, 0, 3000, 195);
        QCOMPARE(wide->width(), 200);
        Controls::widenToFit(wide, u"x"_s);
        QCOMPARE(wide->width(), 200);
        // Shown as written, never as markup.
        QLabel *markup = Controls::makeLabel(&parent, u"d"_s, u"<b>x</b>"_s, 0, 0, 3000, 195);
        QVERIFY(markup->sizeHint().width() >=
                markup->fontMetrics().horizontalAdvance(u"<b>x</b>"_s));

        Controls::registerImages();
        QLabel *picture =
            Controls::makePicture(&parent, u"p"_s, u":/vantelo/banner.png"_s, 30, 45, 150, 150);
        QCOMPARE(picture->geometry(), QRect(2, 3, 10, 10)); // the banner is cut, not shrunk
        QCOMPARE(picture->pixmap().size(), QSize(318, 126));
    }

    void aControlKeepsClearOfTheCaptionOnItsLeft()
    {
        QWidget parent;
        QLabel *caption = Controls::makeLabel(&parent, u"caption"_s, u"Caption :"_s, 0, 0, 150, 195,
                                              Controls::Fit::KeepPlace);
        QLineEdit *box = Controls::makeTextBox(&parent, u"box"_s, QString(), 150, 0, 600, 285);
        Controls::keepClearOfCaption(caption, box);
        const int captionEnd = caption->fontMetrics().horizontalAdvance(caption->text());
        QVERIFY(box->x() > captionEnd);
        QCOMPARE(box->size(), QSize(40, 19));
        // One already clear stays where it is.
        QLineEdit *far = Controls::makeTextBox(&parent, u"far"_s, QString(), 3000, 0, 600, 285);
        Controls::keepClearOfCaption(caption, far);
        QCOMPARE(far->x(), 200);
    }

    void enterPressesOnlyTheButtonsMadeForIt()
    {
        for (const auto enter : {Controls::EnterKey::Ignored, Controls::EnterKey::Presses}) {
            QDialog dialog;
            QLineEdit *box = Controls::makeTextBox(&dialog, u"box"_s, QString(), 0, 0, 1500, 285);
            QPushButton *button =
                Controls::makeButton(&dialog, u"ok"_s, u"OK"_s, 0, 600, 1215, 375, enter);
            QSignalSpy clicked(button, &QPushButton::clicked);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Return);
            QCOMPARE(clicked.count(), enter == Controls::EnterKey::Presses ? 1 : 0);
            QVERIFY(dialog.isVisible());
        }
    }

    void everyWindowShowsItsCaptionsWhole()
    {
        frmdial dialer;
        QStringList cut = cutCaptions(dialer);
        Forms::setDialer(&dialer);
        cut << cutCaptions(Forms::details()) << cutCaptions(Forms::options())
            << cutCaptions(Forms::about());
        Forms::unloadAll();
        Forms::setDialer(nullptr);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u"; "_s)));
    }

    // The text cursor stops blinking after a quiet while and blinks again at
    // the next key press, click or change of focus.
    void cursorRestsWhenQuietAndBlinksAgainOnInput()
    {
        const int flash = QApplication::cursorFlashTime();
        QVERIFY(flash > 0);
        QLineEdit box;
        QLineEdit other;
        box.show();
        other.show();
        {
            CursorRest rest;
            QCOMPARE(QApplication::cursorFlashTime(), flash);
            QVERIFY(rest.msUntilRest() > CursorRest::RestAfterMs - 1000);
            rest.rest(); // the quiet while is over
            QCOMPARE(QApplication::cursorFlashTime(), 0);
            QCOMPARE(rest.msUntilRest(), -1);
            QTest::keyClick(&box, Qt::Key_A);
            QCOMPARE(QApplication::cursorFlashTime(), flash);
            QVERIFY(rest.msUntilRest() > 0);
            rest.rest();
            QTest::mouseClick(&box, Qt::LeftButton);
            QCOMPARE(QApplication::cursorFlashTime(), flash);
            rest.rest();
            QFocusEvent focus(QEvent::FocusIn);
            QApplication::sendEvent(&other, &focus);
            QCOMPARE(QApplication::cursorFlashTime(), flash);
            rest.rest();
        }
        // Gone, it gives the desktop's blinking back.
        QCOMPARE(QApplication::cursorFlashTime(), flash);

        // A desktop whose cursor does not blink is left as it is.
        QApplication::setCursorFlashTime(0);
        {
            CursorRest rest;
            QCOMPARE(rest.msUntilRest(), -1);
            QTest::keyClick(&box, Qt::Key_B);
            QCOMPARE(QApplication::cursorFlashTime(), 0);
        }
        QApplication::setCursorFlashTime(flash);
    }

    // With VANTELO_TRACE set, each label's text is written down once per new
    // text it paints, under its window's and its own names, with the tray tips.
    void shownTextIsTraced()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(u"shown.txt"_s);
        qputenv("VANTELO_TRACE", QFile::encodeName(path));
        shown_text::watch(*qApp);
        qunsetenv("VANTELO_TRACE");

        QWidget window;
        window.setObjectName(u"frmtest"_s);
        auto *label = new QLabel(u"Connecting..."_s, &window);
        label->setObjectName(u"status"_s);
        auto *unnamed = new QLabel(u"not named"_s, &window);
        unnamed->move(0, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        label->repaint();
        label->repaint(); // the same text again: no new line
        label->setText(u"Connected\nat 28800"_s);
        label->repaint();
        shown_text::noteTrayTip(u"Vantelo - Connected00:00:01"_s);
        shown_text::noteTrayTip(u"Vantelo - Connected00:00:01"_s);
        shown_text::noteTrayTip(u"Vantelo - Connected00:00:02"_s);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, QStringList({u"frmtest.status: Connecting..."_s,
                                     u"frmtest.status: Connected at 28800"_s,
                                     u"tray.tip: Vantelo - Connected00:00:01"_s,
                                     u"tray.tip: Vantelo - Connected00:00:02"_s}));
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
