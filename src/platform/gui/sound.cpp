#include "gui_state.h"

#include "platform/sound.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLibrary>
#include <QPointer>
#include <QStringList>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// The player lives in a module of its own (sound_module/), loaded with the
// first sound played: Qt Multimedia and the audio libraries under it cost
// start-up time and memory that a run without sounds never needs.
using StartSound = QObject *(*)(const QString &path);
using StopSound = void (*)(QObject *sound);

struct Player
{
    StartSound start = nullptr;
    StopSound stop = nullptr;
};

// The module where it is installed beside the program, or else where it was
// built; a player without functions when neither loads.
const Player &player()
{
    static const Player loaded = [] {
        const QString installed = QStringLiteral(VANTELO_SOUND_MODULE);
        const QStringList candidates{
            QDir::isAbsolutePath(installed)
                ? installed
                : QCoreApplication::applicationDirPath() + u"/../"_s + installed,
            QStringLiteral(VANTELO_BUILD_SOUND_MODULE),
        };
        for (const QString &candidate : candidates) {
            if (!QFileInfo(candidate).isFile())
                continue;
            // The library stays loaded when this handle goes.
            QLibrary module(candidate);
            const auto start = reinterpret_cast<StartSound>(module.resolve("vanteloStartSound"));
            const auto stop = reinterpret_cast<StopSound>(module.resolve("vanteloStopSound"));
            if (start && stop)
                return Player{start, stop};
        }
        return Player{};
    }();
    return loaded;
}

// The sound now playing: a new sound stops it, as on the system.
QPointer<QObject> g_current;

void stopCurrent()
{
    if (QObject *sound = g_current.data()) {
        player().stop(sound);
        sound->deleteLater();
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
    if (!player().start)
        return FALSE;
    // The sound lives until it has played (or failed), then goes.
    QObject *sound = player().start(QFileInfo(path).absoluteFilePath());
    g_current = sound;

    if (!(fuSound & SND_ASYNC)) {
        // Waits for the end of the sound, never more than a minute.
        QEventLoop loop;
        QObject::connect(sound, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return TRUE;
}
