// The options window: what its load takes from the settings file, what Apply,
// "&Ok" and "&Cancel" write, its pages, and its message and file dialogs.

#include "engine/globals.h"
#include "forms_test.h"
#include "platform/dialogs.h"
#include "platform/seams.h"
#include "platform/window_handles.h"
#include "services/ini.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/options/frmopt.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
namespace seams = platform::seams;

namespace {

template <class T> T *control(QWidget &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qWarning("no control %s", qPrintable(name));
    return found;
}

QLineEdit *box(QWidget &window, const QString &name)
{
    return control<QLineEdit>(window, name);
}

void click(QWidget &window, const QString &name)
{
    QPushButton *button = control<QPushButton>(window, name);
    QVERIFY(button);
    button->click();
}

bool isTone(QWidget &window)
{
    return control<QRadioButton>(window, u"Option1"_s)->isChecked();
}

bool isPulse(QWidget &window)
{
    return control<QRadioButton>(window, u"Option2"_s)->isChecked();
}

bool generalPageShown(QWidget &window)
{
    return !control<QWidget>(window, u"Picture2"_s)->isHidden() &&
           control<QWidget>(window, u"Picture1"_s)->isHidden() &&
           control<QPushButton>(window, u"Option6"_s)->isChecked() &&
           !control<QPushButton>(window, u"Option7"_s)->isChecked();
}

QString setting(const QString &section, const QString &key)
{
    return ReadIniValue(Settings::FileBase, section, key);
}

// The settings file's text, for what a value lookup cannot tell: whether a key
// is written at all, and in which order.
QString settingsText()
{
    return QString::fromUtf8(readBytes(IniPath(Settings::FileBase)));
}

bool hasLine(const QString &line)
{
    const QRegularExpression re(u"^"_s + QRegularExpression::escape(line) + u"\\s*$"_s,
                                QRegularExpression::MultilineOption);
    return re.match(settingsText()).hasMatch();
}

} // namespace

class TestOptionsWindow final : public FormsTest
{
    Q_OBJECT

private:
    void storeSettings(const QByteArray &text)
    {
        QVERIFY(writeBytes(IniPath(Settings::FileBase), text));
    }

private slots:
    void initTestCase() { Controls::useFormFont(); } // as main() does

    void firstLoadWithoutSettingsFile()
    {
        frmopt &w = Forms::options();
        QVERIFY(!w.isVisible());
        QCOMPARE(w.windowTitle(), u"Options..."_s);
        QCOMPARE(w.size(), QSize(5730 / 15, 4800 / 15));
        QVERIFY(isPulse(w));
        QVERIFY(!isTone(w));
        QCOMPARE(box(w, u"TxtTest"_s)->text(), QString()); // the design "5" is replaced
        QCOMPARE(box(w, u"Text4"_s)->text(), QString());
        QCOMPARE(DialType, qint16(0));
        QVERIFY(WaveFilePath.isEmpty());
        QVERIFY(generalPageShown(w));
        QVERIFY(!QFile::exists(IniPath(Settings::FileBase))); // loading writes nothing
    }

    void loadSetsTheDialingType_data()
    {
        QTest::addColumn<QByteArray>("stored"); // the whole CONNECTION section
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("tone");
        const QByteArray header = "[CONNECTION]\r\n";
        QTest::newRow("1 is tone") << header + "TypeNumerotation=1\r\n" << 0 << 1 << true;
        QTest::newRow("2 is pulse") << header + "TypeNumerotation=2\r\n" << 1 << 2 << false;
        QTest::newRow("0 is pulse") << header + "TypeNumerotation=0\r\n" << 1 << 0 << false;
        QTest::newRow("7 is pulse") << header + "TypeNumerotation=7\r\n" << 1 << 7 << false;
        QTest::newRow("missing keeps tone") << header << 1 << 1 << true;
        QTest::newRow("missing keeps pulse") << QByteArray() << 2 << 2 << false;
        QTest::newRow("word keeps") << header + "TypeNumerotation=tone\r\n" << 1 << 1 << true;
        QTest::newRow("fraction keeps") << header + "TypeNumerotation=1.5\r\n" << 2 << 2 << false;
        QTest::newRow("too big keeps") << header + "TypeNumerotation=65537\r\n" << 2 << 2 << false;
        QTest::newRow("empty keeps") << header + "TypeNumerotation=\r\n" << 1 << 1 << true;
    }

    void loadSetsTheDialingType()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(bool, tone);
        if (!stored.isEmpty())
            storeSettings(stored);
        DialType = static_cast<qint16>(before);
        frmopt &w = Forms::options();
        QCOMPARE(DialType, static_cast<qint16>(after));
        QCOMPARE(isTone(w), tone);
        QCOMPARE(isPulse(w), !tone);
    }

    void loadTakesThePeriodAndTheSoundFile()
    {
        storeSettings("[GENERAL]\r\nTest=30\r\njouerFichierWav=/media/sons/ring.wav\r\n");
        frmopt &w = Forms::options();
        QCOMPARE(box(w, u"TxtTest"_s)->text(), u"30"_s);
        QCOMPARE(box(w, u"Text4"_s)->text(), u"/media/sons/ring.wav"_s);
        // The stored sound is the one played once connected.
        QCOMPARE(WaveFilePath, u"/media/sons/ring.wav"_s);
    }

    void applyWritesTheValuesAsTheyStand()
    {
        frmopt &w = Forms::options();
        control<QRadioButton>(w, u"Option1"_s)->setChecked(true);
        box(w, u"TxtTest"_s)->setText(u"abc"_s);
        box(w, u"Text4"_s)->setText(QString());
        click(w, u"Command3"_s);
        QCOMPARE(setting(Settings::Connection, Settings::DialingType), u"1"_s);
        QCOMPARE(setting(Settings::General, Settings::RedialPeriod), u"abc"_s);
        QVERIFY(hasLine(u"jouerFichierWav="_s)); // written, empty
        // Written in order: dialing type, period, sound file.
        const QString written = settingsText();
        QVERIFY(written.indexOf(u"[CONNECTION]"_s) < written.indexOf(u"[GENERAL]"_s));
        QVERIFY(written.indexOf(u"Test="_s) < written.indexOf(u"jouerFichierWav="_s));
        // Apply leaves the dialing type for the next load.
        QCOMPARE(DialType, qint16(0));

        control<QRadioButton>(w, u"Option2"_s)->setChecked(true);
        box(w, u"TxtTest"_s)->setText(QString());
        box(w, u"Text4"_s)->setText(u"/snd/mon son.wav"_s);
        click(w, u"Command3"_s);
        QCOMPARE(setting(Settings::Connection, Settings::DialingType), u"2"_s);
        QVERIFY(hasLine(u"Test="_s));
        QCOMPARE(setting(Settings::General, Settings::SoundFile), u"/snd/mon son.wav"_s);
        QCOMPARE(WaveFilePath, u"/snd/mon son.wav"_s);
        QVERIFY(Forms::optionsLoaded()); // Apply does not close
    }

    void okAppliesAndClosesWhileCancelAndTheCloseBoxWriteNothing()
    {
        frmopt &first = Forms::options();
        box(first, u"TxtTest"_s)->setText(u"12"_s);
        click(first, u"Command3"_s);
        box(first, u"TxtTest"_s)->setText(u"99"_s);
        control<QRadioButton>(first, u"Option1"_s)->setChecked(true);
        first.show();
        click(first, u"Command8"_s);
        QTRY_VERIFY(!Forms::optionsLoaded());
        QCOMPARE(setting(Settings::General, Settings::RedialPeriod), u"12"_s);
        QCOMPARE(setting(Settings::Connection, Settings::DialingType), u"2"_s);

        frmopt &second = Forms::options();
        QCOMPARE(box(second, u"TxtTest"_s)->text(), u"12"_s);
        box(second, u"TxtTest"_s)->setText(u"45"_s);
        second.show();
        second.close();
        QTRY_VERIFY(!Forms::optionsLoaded());
        QCOMPARE(setting(Settings::General, Settings::RedialPeriod), u"12"_s);

        frmopt &third = Forms::options();
        control<QRadioButton>(third, u"Option1"_s)->setChecked(true);
        box(third, u"TxtTest"_s)->setText(u"8"_s);
        third.show();
        click(third, u"Command9"_s);
        QTRY_VERIFY(!Forms::optionsLoaded());
        QCOMPARE(setting(Settings::General, Settings::RedialPeriod), u"8"_s);
        QCOMPARE(setting(Settings::Connection, Settings::DialingType), u"1"_s);
        // The next load brings the new dialing type into use.
        Forms::options();
        QCOMPARE(DialType, qint16(1));
    }

    void pageButtonsSwitchThePages()
    {
        frmopt &w = Forms::options();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(control<QPushButton>(w, u"Option7"_s), Qt::LeftButton);
        QVERIFY(!control<QWidget>(w, u"Picture1"_s)->isHidden());
        QVERIFY(control<QWidget>(w, u"Picture2"_s)->isHidden());
        QVERIFY(control<QPushButton>(w, u"Option7"_s)->isChecked());
        QVERIFY(!control<QPushButton>(w, u"Option6"_s)->isChecked());
        QTest::mouseClick(control<QPushButton>(w, u"Option6"_s), Qt::LeftButton);
        QVERIFY(generalPageShown(w));
        QTest::mouseClick(control<QPushButton>(w, u"Option7"_s), Qt::LeftButton);
        QVERIFY(control<QWidget>(w, u"Picture2"_s)->isHidden());

        // Every load opens on the General page.
        w.close();
        QTRY_VERIFY(!Forms::optionsLoaded());
        QVERIFY(generalPageShown(Forms::options()));
    }

    void addAndRemoveAnswerNotAvailable()
    {
        frmopt &w = Forms::options();
        click(w, u"Command1"_s);
        click(w, u"Command2"_s);
        const auto &calls = seams::messageBoxCalls();
        QCOMPARE(calls.size(), 2);
        for (const seams::MessageBoxCall &call : calls) {
            QCOMPARE(call.text, u"Pas disponible"_s);
            QCOMPARE(call.caption, AppTitle);
            QCOMPARE(call.type, MB_OK | MB_ICONINFORMATION);
            QCOMPARE(call.owner, platform::windowHandle(&w));
        }
        QCOMPARE(control<QListWidget>(w, u"List1"_s)->count(), 0);
        QVERIFY(!QFile::exists(IniPath(Settings::FileBase)));
    }

    void browseFillsTheSoundPathAndPlayNeedsOne()
    {
        const QString sound = m_f.home().path() + u"/ding.wav"_s;
        QVERIFY(writeBytes(sound, QByteArray("RIFF")));
        frmopt &w = Forms::options();
        seams::setNextOpenFileName(sound);
        click(w, u"Command11"_s);
        QCOMPARE(box(w, u"Text4"_s)->text(), sound);
        QCOMPARE(seams::openFileCalls().size(), 1);
        const seams::OpenFileCall &call = seams::openFileCalls().first();
        QCOMPARE(call.title, u"Choose the sound file"_s);
        QCOMPARE(call.filter, QStringList({u"Wave sounds (*.wav)"_s, u"*.wav"_s,
                                           u"All files (*.*)"_s, u"*.*"_s}));
        QCOMPARE(call.owner, platform::windowHandle(&w));

        click(w, u"Command13"_s);
        QCOMPARE(seams::soundCalls().size(), 1);
        QCOMPARE(seams::soundCalls().first().path, sound);

        // A cancelled dialog empties the path, and play then does nothing.
        seams::setNextOpenFileName(QString());
        click(w, u"Command11"_s);
        QCOMPARE(box(w, u"Text4"_s)->text(), QString());
        seams::clearSoundCalls();
        click(w, u"Command13"_s);
        QVERIFY(seams::soundCalls().isEmpty());
        // Nothing of it is stored until applied.
        QVERIFY(!QFile::exists(IniPath(Settings::FileBase)));
    }
};

QTEST_MAIN(TestOptionsWindow)
#include "test_frmopt.moc"
