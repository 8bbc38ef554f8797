// The about window: its texts, the maker's address and closing.

#include "engine/globals.h"
#include "forms_test.h"
#include "platform/seams.h"
#include "ui/about/frmAbout.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
namespace seams = platform::seams;

namespace {

QString labelText(QWidget &window, const QString &name)
{
    auto *label = window.findChild<QLabel *>(name);
    return label ? label->text() : u"<missing %1>"_s.arg(name);
}

void checkLoadedTexts(QWidget &w)
{
    QCOMPARE(w.windowTitle(), u"About Vantelo BETA"_s);
    QCOMPARE(labelText(w, u"lblTitle"_s), u"Vantelo BETA"_s);
    QCOMPARE(labelText(w, u"lblVersion"_s), u"Version 0.1.0"_s);
    QCOMPARE(labelText(w, u"Label1"_s), u"Telecharger la derniere mise à jour sur :"_s);
    QCOMPARE(labelText(w, u"Label2"_s), MakerWebHost);
}

} // namespace

class TestAboutWindow final : public FormsTest
{
    Q_OBJECT

private slots:
    void initTestCase() { Controls::useFormFont(); } // as main() does

    void loadShowsTitleVersionAndBanner()
    {
        frmAbout &w = Forms::about();
        checkLoadedTexts(w);
        QCOMPARE(w.size(), QSize(5100 / 15, 3525 / 15));
        auto *banner = w.findChild<QLabel *>(u"picMainSkin"_s);
        QVERIFY(banner);
        QCOMPARE(banner->pixmap().size(), QSize(318, 126));
        QVERIFY(MakerWebAddress.contains(MakerWebHost));
    }

    void addressClickOpensTheMakersSite()
    {
        frmAbout &w = Forms::about();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *address = w.findChild<QLabel *>(u"Label2"_s);
        QVERIFY(address);
        // A press that ends elsewhere is no click.
        QTest::mousePress(address, Qt::LeftButton);
        QTest::mouseRelease(address, Qt::LeftButton, {}, QPoint(-5, -5));
        QVERIFY(seams::programStartCalls().isEmpty());

        QTest::mouseClick(address, Qt::LeftButton);
        QCOMPARE(seams::programStartCalls().size(), 1);
        const seams::ProgramStartCall &call = seams::programStartCalls().first();
        QCOMPARE(call.commandLine, u"Start.exe https://vantelo.example.org/"_s);
        QCOMPARE(call.showCommand, SW_HIDE);
        QVERIFY(w.isVisible()); // the window stays as it is
    }

    void okClosesAndTheNextOpeningLoadsAfresh()
    {
        frmAbout &first = Forms::about();
        first.show();
        first.findChild<QLabel *>(u"lblTitle"_s)->setText(u"changed"_s);
        auto *ok = first.findChild<QPushButton *>(u"cmdOK"_s);
        QVERIFY(ok);
        QCOMPARE(ok->text(), u"OK"_s);
        ok->click();
        QTRY_VERIFY(!Forms::aboutLoaded());

        frmAbout &second = Forms::about();
        QVERIFY(!second.isVisible());
        checkLoadedTexts(second);
    }
};

QTEST_MAIN(TestAboutWindow)
#include "test_frmabout.moc"
