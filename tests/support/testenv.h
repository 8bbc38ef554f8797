#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh, private home for one test: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and
// XDG_RUNTIME_DIR all point into a temporary folder that is removed afterwards,
// so the settings file, the call log, the phonebook and the simulated line's
// state never touch the real home folder nor leak from one test to the next.
class TemporaryHome final
{
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome &) = delete;
    TemporaryHome &operator=(const TemporaryHome &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString configDir() const;  // $XDG_CONFIG_HOME/vantelo
    QString dataDir() const;    // $XDG_DATA_HOME/vantelo
    QString runtimeDir() const; // $XDG_RUNTIME_DIR/vantelo

private:
    QTemporaryDir m_dir;
    QByteArray m_saved[4];
};

// Reads a whole file as bytes; an empty array when it cannot be read.
QByteArray readBytes(const QString &path);
// Writes bytes to a file, creating its folder; returns false on failure.
bool writeBytes(const QString &path, const QByteArray &bytes);
