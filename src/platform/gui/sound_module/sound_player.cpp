// The part of the sound player that needs Qt Multimedia. It is a module of
// its own, loaded with the first sound played (platform/gui/sound.cpp), so a
// run that plays no sound never loads Qt Multimedia nor the audio libraries
// under it.

#include <QCoreApplication>
#include <QSoundEffect>
#include <QString>
#include <QUrl>

// Starts playing a .wav file (an absolute path) and hands back the sound,
// owned by the application: it deletes itself once it has played or failed.
extern "C" Q_DECL_EXPORT QObject *vanteloStartSound(const QString &path)
{
    auto *effect = new QSoundEffect(QCoreApplication::instance());
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying() && effect->status() != QSoundEffect::Loading)
            effect->deleteLater();
    });
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error)
            effect->deleteLater();
    });
    effect->setSource(QUrl::fromLocalFile(path));
    effect->play();
    return effect;
}

// Stops a sound that vanteloStartSound started.
extern "C" Q_DECL_EXPORT void vanteloStopSound(QObject *sound)
{
    if (auto *effect = qobject_cast<QSoundEffect *>(sound))
        effect->stop();
}
