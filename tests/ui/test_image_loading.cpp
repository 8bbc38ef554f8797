// The program's images load as PNG without Qt trying its other image formats:
// no image-format plugin is loaded while the windows are built and shown, and
// the images read are those Qt's own format detection reads.

#include "forms_test.h"
#include "ui/about/frmAbout.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/details/frmset.h"
#include "ui/dialer/frmdial.h"
#include "ui/options/frmopt.h"

#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The image-format plugins mapped into this process.
QStringList loadedImagePlugins()
{
    QFile maps(u"/proc/self/maps"_s);
    if (!maps.open(QIODevice::ReadOnly))
        return {u"(cannot read /proc/self/maps)"_s};
    QStringList plugins;
    const QList<QByteArray> lines = maps.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype at = line.indexOf("/imageformats/");
        if (at >= 0 && !plugins.contains(QString::fromUtf8(line.mid(at))))
            plugins.append(QString::fromUtf8(line.mid(at)));
    }
    return plugins;
}

} // namespace

class TestImageLoading final : public FormsTest
{
    Q_OBJECT

private slots:
    // First: anything that reads an image the usual way may load the plugins.
    void noImagePluginLoadedByTheWindows()
    {
        frmdial dialer;
        Forms::setDialer(&dialer);
        const QList<QWidget *> windows = {&dialer, &Forms::details(), &Forms::options(),
                                          &Forms::about()};
        for (QWidget *w : windows) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
        }
        QVERIFY(!dialer.windowIcon().isNull());
        QStringList plugins = loadedImagePlugins();
        QVERIFY2(plugins.isEmpty(), qPrintable(plugins.join(u", "_s)));
        Forms::setDialer(nullptr);
    }

    // The pictures and icons are those Qt's own detection reads from the files.
    void imagesReadAsQtWouldReadThem()
    {
        Controls::registerImages();
        for (const QString &name : {u"logo.png"_s, u"banner.png"_s, u"browse.png"_s}) {
            const QString path = u":/vantelo/"_s + name;
            const QPixmap expected(path);
            QVERIFY2(!expected.isNull(), qPrintable(path));
            QCOMPARE(Controls::loadImage(path).toImage(), expected.toImage());
            QCOMPARE(Controls::loadIcon(path).pixmap(16, 16).toImage(),
                     QIcon(path).pixmap(16, 16).toImage());
        }
        QVERIFY(Controls::loadImage(u":/vantelo/no such image.png"_s).isNull());
    }
};

QTEST_MAIN(TestImageLoading)
#include "test_image_loading.moc"
