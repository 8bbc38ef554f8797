// The frames with a caption on their top line: painted again for every control
// inside that repaints, they measure their caption once, and again only when
// the caption or the font changes, and still draw what a new frame draws.

#include "ui/common/controls.h"

#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A window holding one frame with a text box inside, as the details window's
// automatic-disconnection panel.
struct FrameWindow
{
    explicit FrameWindow(const QString &caption)
    {
        window.setFixedSize(320, 80);
        Controls::setBackColor(&window, QColor(Controls::FormGrey));
        frame = Controls::makeFrame(&window, u"Frame5"_s, caption, 0, 0, 4695, 885);
        box = Controls::makeTextBox(frame, u"Text1"_s, QString(), 1680, 360, 495, 285);
        // No blinking cursor in the pictures compared.
        box->setFocusPolicy(Qt::NoFocus);
    }
    QImage picture() { return frame->grab().toImage(); }

    QWidget window;
    QGroupBox *frame = nullptr;
    QLineEdit *box = nullptr;
};

} // namespace

class TestCaptionFrame : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Controls::useFormFont(); }

    void repaintsDoNotMeasureTheCaptionAgain()
    {
        FrameWindow shown(u"Deconnexion auto"_s);
        shown.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.frame->repaint();
        const int measured = Controls::captionMeasurements();
        // The whole frame, the text box's cursor, the caption alone.
        for (int i = 0; i < 5; ++i) {
            shown.frame->repaint();
            shown.frame->repaint(shown.box->geometry());
            shown.box->repaint();
            shown.frame->repaint(QRect(8, 0, 20, 10));
        }
        QCOMPARE(Controls::captionMeasurements(), measured);
    }

    void aNewCaptionOrFontIsMeasuredAndDrawnAsANewFrameWould()
    {
        FrameWindow shown(u"Deconnexion auto"_s);
        shown.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shown.window));
        shown.frame->repaint();

        int measured = Controls::captionMeasurements();
        shown.frame->setTitle(u"Deconnexion automatique"_s);
        const QImage retitled = shown.picture();
        QCOMPARE(Controls::captionMeasurements(), measured + 1);
        FrameWindow fresh(u"Deconnexion automatique"_s);
        QCOMPARE(retitled, fresh.picture());

        measured = Controls::captionMeasurements();
        const QFont large = Controls::arialFont(14, true);
        shown.frame->setFont(large);
        const QImage refonted = shown.picture();
        QCOMPARE(Controls::captionMeasurements(), measured + 1);
        fresh.frame->setFont(large);
        QCOMPARE(refonted, fresh.picture());
        // The large caption really is drawn otherwise than the small one.
        QVERIFY(refonted != retitled);

        shown.frame->setTitle(QString());
        FrameWindow bare{QString()};
        bare.frame->setFont(large);
        QCOMPARE(shown.picture(), bare.picture());
    }
};

QTEST_MAIN(TestCaptionFrame)
#include "test_caption_frame.moc"
