#include "gui_state.h"

#include "platform/sound.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace {

// The sound now playing: a new sound stops it, as on the system.
QPointer<QSoundEffect> g_current;

void stopCurrent()
{
    if (QSoundEffect *effect = g_current.data()) {
        effect->stop();
        effect->deleteLater();
    }
    g_current = nullptr;
}

bool playable(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && info.isReadable();
}

} // namespace

BOOL sndPlaySoundA(LPCSTR lpszSound, UINT fuSound)
{
    const QString path = QString::fromLocal8Bit(lpszSound ? lpszSound : "");
    platform::gui::state().soundCalls.append({path, fuSound});

    if (!lpszSound) {
        // A null sound stops the one playing.
        if (!platform::gui::state().quiet)
            stopCurrent();
        return TRUE;
    }
    if (!playable(path)) {
        if (!(fuSound & SND_NODEFAULT) && !platform::gui::state().quiet &&
            qobject_cast<QApplication *>(QCoreApplication::instance()))
            QApplication::beep();
        return FALSE;
    }
    if (platform::gui::state().quiet)
        return TRUE;
    if (!QCoreApplication::instance())
        return FALSE;

    stopCurrent();
    // The effect lives until it has played (or failed), then goes.
    auto *effect = new QSoundEffect(QCoreApplication::instance());
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying() && effect->status() != QSoundEffect::Loading)
            effect->deleteLater();
    });
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error)
            effect->deleteLater();
    });
    effect->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    effect->play();
    g_current = effect;

    if (!(fuSound & SND_ASYNC)) {
        // Waits for the end of the sound, never more than a minute.
        QEventLoop loop;
        QObject::connect(effect, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return TRUE;
}
