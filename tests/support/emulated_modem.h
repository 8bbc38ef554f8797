#pragma once

// Our Hayes modem emulator (tests/modem) on a pseudo-terminal, for one test:
// started with the options given, its link, log and ready files in `folder`.
// Targets using it define VANTELO_MODEM_EMULATOR, the emulator's path.

#include "testenv.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QThread>

class EmulatedModem final
{
public:
    explicit EmulatedModem(const QString &folder, const QStringList &options = {})
        : m_link(folder + QStringLiteral("/modem")),
          m_log(folder + QStringLiteral("/emulator.log")),
          m_ready(folder + QStringLiteral("/emulator.ready"))
    {
        m_process.setProgram(QStringLiteral(VANTELO_MODEM_EMULATOR));
        m_process.setArguments(QStringList{QStringLiteral("--link"), m_link,
                                           QStringLiteral("--ready"), m_ready,
                                           QStringLiteral("--log"), m_log} +
                               options);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start();
        const QDeadlineTimer deadline(5000);
        while (!QFileInfo::exists(m_ready) && !deadline.hasExpired())
            QThread::msleep(5);
    }
    ~EmulatedModem()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
    EmulatedModem(const EmulatedModem &) = delete;
    EmulatedModem &operator=(const EmulatedModem &) = delete;

    bool isReady() const { return QFileInfo::exists(m_ready); }
    // The device path to put in an entry's Device=.
    QString link() const { return m_link; }
    // What the modem heard and answered, one event a line ("CMD ATDT0860").
    QString log() const { return QString::fromUtf8(readBytes(m_log)); }
    qint64 pid() const { return m_process.processId(); }

private:
    QString m_link;
    QString m_log;
    QString m_ready;
    QProcess m_process;
};
