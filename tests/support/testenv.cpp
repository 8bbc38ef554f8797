#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const char *const kVariables[4] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"};
}

TemporaryHome::TemporaryHome()
{
    for (int i = 0; i < 4; ++i)
        m_saved[i] = qgetenv(kVariables[i]);
    const QString base = m_dir.path();
    const QString dirs[4] = {base, base + QStringLiteral("/config"), base + QStringLiteral("/data"),
                             base + QStringLiteral("/runtime")};
    for (int i = 0; i < 4; ++i) {
        QDir().mkpath(dirs[i]);
        qputenv(kVariables[i], QFile::encodeName(dirs[i]));
    }
    QFile::setPermissions(dirs[3],
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TemporaryHome::~TemporaryHome()
{
    for (int i = 0; i < 4; ++i) {
        if (m_saved[i].isNull())
            qunsetenv(kVariables[i]);
        else
            qputenv(kVariables[i], m_saved[i]);
    }
}

QString TemporaryHome::configDir() const
{
    return path() + QStringLiteral("/config/vantelo");
}

QString TemporaryHome::dataDir() const
{
    return path() + QStringLiteral("/data/vantelo");
}

QString TemporaryHome::runtimeDir() const
{
    return path() + QStringLiteral("/runtime/vantelo");
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
