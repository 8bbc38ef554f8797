#include "platform/modem/call_process.h"

// The call from the dial to the hang-up: the modem's dialogue, then pppd's
// process, each step reported in the call store.

#include "platform/modem/call_events.h"
#include "platform/modem/call_report.h"
#include "platform/modem/dialogue.h"
#include "platform/modem/hayes.h"
#include "platform/modem/modem_line.h"
#include "platform/modem/port.h"
#include "platform/modem/pppd_process.h"
#include "platform/ras.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace modem {

namespace {

// How long the modem may take to answer its reset command (or the dial's
// timeout, when that is shorter).
constexpr int kInitTimeoutMs = 10000;

class ModemCall final
{
public:
    explicit ModemCall(const CallRequest &request)
        : m_request(request), m_log(request.handle), m_report(request.handle, m_log)
    {}

    void run()
    {
        if (!report([](line::Call &c) { modemPart(&c).pid = ::getpid(); }))
            return; // forgotten, or hung up before it began
        const DWORD rc = dial();
        if (m_hangUpRequested) {
            finishHangUp();
            return;
        }
        if (rc != 0) {
            m_log.write(u"The call failed: error %1. %2"_s.arg(rc).arg(m_words));
            m_port.hangUpAndClose();
            report([rc, this](line::Call &c) {
                ModemPart &part = modemPart(&c);
                part.state = RASCS_Disconnected;
                part.error = rc;
                part.errorWords = m_words;
                part.finished = true;
                part.pppdPid = 0;
            });
        }
    }

private:
    // The call up to pppd's end; 0 when the user hung up, else the error that ended it.
    DWORD dial()
    {
        const ModemSettings &s = m_request.settings;
        m_log.write(u"Opening %1 at %2 bit/s."_s.arg(s.device).arg(s.speed));
        if (const DWORD rc = m_port.open(s.device, s.speed); rc != 0) {
            m_words = m_port.problem();
            return rc;
        }
        if (!report([](line::Call &c) { modemPart(&c).state = RASCS_PortOpened; }))
            return 0;

        if (!s.init.isEmpty()) {
            const int timeoutMs = std::min(kInitTimeoutMs, s.timeoutSec * 1000);
            const Reply reply = command({u"The modem's reset"_s, s.init, timeoutMs, Answer::Ok});
            if (reply.error != 0 || m_hangUpRequested)
                return reply.error;
        }
        if (!report([](line::Call &c) { modemPart(&c).state = RASCS_ConnectDevice; }))
            return 0;
        const QString dialText = dialCommand(m_request.number);
        const Reply reply = command(
            {u"Dialing %1"_s.arg(dialText.mid(4)), dialText, s.timeoutSec * 1000, Answer::Connect});
        if (reply.error != 0 || m_hangUpRequested)
            return reply.error;
        const quint32 speed = reply.speed != 0 ? reply.speed : quint32(s.speed);
        m_online = true;
        if (!report([speed](line::Call &c) {
                modemPart(&c).state = RASCS_DeviceConnected;
                c.speed = speed;
            }))
            return 0;
        return runPppd();
    }

    Reply command(const Command &c)
    {
        const Reply reply = sendCommand(m_port.fd(), m_log, c);
        if (reply.hangUp)
            m_hangUpRequested = true;
        if (reply.error != 0)
            m_words = reply.words;
        return reply;
    }

    DWORD runPppd()
    {
        PppdProcess pppd(
            m_log,
            {[this](pid_t pid) {
                 return report([pid](line::Call &c) { modemPart(&c).pppdPid = pid; });
             },
             [this](const PppdProgress &progress) {
                 return report([&progress](line::Call &c) { progressed(modemPart(&c), progress); });
             }});
        const PppdEnd end =
            pppd.run(m_port, m_request.settings.peer, m_request.userName, m_request.password);
        if (end.hangUp)
            m_hangUpRequested = true;
        if (!end.words.isEmpty())
            m_words = end.words;
        return end.error;
    }

    static void progressed(ModemPart &c, const PppdProgress &progress)
    {
        switch (progress.step) {
        case PppdProgress::LinkStarted:
            c.interfaceName = progress.interfaceName;
            c.state = RASCS_Authenticate;
            return;
        case PppdProgress::Authenticated:
            c.state = RASCS_Authenticated;
            return;
        case PppdProgress::NetworkUp:
            c.state = RASCS_Connected;
            return;
        case PppdProgress::None:
        case PppdProgress::AuthenticationFailed:
        case PppdProgress::PeerDead:
            return;
        }
    }

    // Changes the call's record; false (and a hang-up) when that cannot be done.
    bool report(const std::function<void(line::Call &)> &change)
    {
        if (m_report.report(change))
            return true;
        m_hangUpRequested = true;
        return false;
    }

    // The user hung up: the port is released, then the call is forgotten.
    void finishHangUp()
    {
        m_port.hangUpAndClose(m_online);
        if (!m_port.problem().isEmpty())
            m_log.write(m_port.problem());
        // Logged before the call is forgotten: whoever sees it gone finds the log complete.
        m_log.write(u"Hung up."_s);
        m_report.close();
        if (const QString path = callLockPath(m_request.handle); !path.isEmpty())
            ::unlink(QFile::encodeName(path).constData());
    }

    CallRequest m_request;
    ModemLog m_log;
    CallReport m_report;
    Port m_port;
    QString m_words; // what happened, when the error's own text is too general
    bool m_hangUpRequested = false;
    bool m_online = false; // the modem answered CONNECT: a call is on the line
};

} // namespace

QByteArray encodeCallRequest(const CallRequest &request)
{
    const ModemSettings &s = request.settings;
    const QJsonObject o{
        {u"handle"_s, qint64(request.handle)},
        {u"device"_s, s.device},
        {u"speed"_s, s.speed},
        {u"init"_s, s.init},
        {u"timeout"_s, s.timeoutSec},
        {u"peer"_s, s.peer},
        {u"number"_s, request.number},
        {u"user"_s, request.userName},
        {u"password"_s, request.password},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool decodeCallRequest(const QByteArray &bytes, CallRequest *request)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    request->handle = static_cast<HRASCONN>(o.value(u"handle"_s).toInteger());
    request->settings.device = o.value(u"device"_s).toString();
    request->settings.speed = o.value(u"speed"_s).toInt(DefaultSpeed);
    request->settings.init = o.value(u"init"_s).toString();
    request->settings.timeoutSec = o.value(u"timeout"_s).toInt(DefaultTimeoutSec);
    request->settings.peer = o.value(u"peer"_s).toString(DefaultPeer);
    request->number = o.value(u"number"_s).toString();
    request->userName = o.value(u"user"_s).toString();
    request->password = o.value(u"password"_s).toString();
    return request->handle != 0 && !request->settings.device.isEmpty();
}

void runCall(const CallRequest &request)
{
    installSignals();
    ModemCall call(request);
    call.run();
}

} // namespace modem
