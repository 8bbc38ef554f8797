// The latest modem call's log as a user shows it to someone else: that call
// alone, and no password in it.

#include "platform/core/bounded_read.h"
#include "platform/line/call_store.h"
#include "platform/line/phonebook_file.h"
#include "platform/lines.h"
#include "platform/modems.h"
#include "platform/paths.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace modems {

namespace {

// More than any call's log; a larger file is shown from this far before its end.
constexpr qint64 kMaxLogBytes = qint64{4} << 20;

const QString kMask = QStringLiteral("********");

// Every password the phonebook stores.
QStringList storedPasswords()
{
    const platform::BoundedRead file =
        platform::readBounded(lines::phonebookPath(), platform::PhonebookReadLimit);
    QStringList passwords;
    if (!file.read())
        return passwords;
    const line::PhonebookFile phonebook = line::PhonebookFile::parse(file.data);
    for (const QString &entry : phonebook.entryNames()) {
        for (const QString &key : {u"DialPassword"_s, u"SimPassword"_s}) {
            const QString password = phonebook.value(entry, key);
            if (!password.isEmpty() && !passwords.contains(password))
                passwords.append(password);
        }
    }
    return passwords;
}

} // namespace

QString lastCallOf(const QString &log)
{
    static const QRegularExpression start(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} Call \\d+\\.$"_s,
                                          QRegularExpression::MultilineOption);
    qsizetype from = 0;
    for (QRegularExpressionMatchIterator it = start.globalMatch(log); it.hasNext();)
        from = it.next().capturedStart();
    return log.mid(from);
}

QString maskSecrets(const QString &text, const QStringList &passwords)
{
    QString masked = text;
    // The longest first, so that one password inside another leaves nothing.
    QStringList longestFirst = passwords;
    std::sort(longestFirst.begin(), longestFirst.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &password : std::as_const(longestFirst)) {
        if (!password.isEmpty())
            masked.replace(password, kMask);
    }
    // A value after "password=", "secret: ", pppd's password="..." (with
    // show-password), "PAP secret X", "CHAP secret X".
    static const QRegularExpression given(
        u"((?:password|passwd|secret)\\s*[=:]\\s*)(\"[^\"]*\"|'[^']*'|\\S+)|"
        u"((?:PAP|CHAP)\\s+(?:password|secret)\\s+)(\"[^\"]*\"|\\S+)"_s,
        QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype done = 0;
    for (QRegularExpressionMatchIterator it = given.globalMatch(masked); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const int lead = m.capturedLength(1) > 0 ? 1 : 3;
        out += QStringView(masked).sliced(done, m.capturedEnd(lead) - done);
        out += kMask;
        done = m.capturedEnd(lead + 1);
    }
    out += QStringView(masked).sliced(done);
    return out;
}

CallLog lastCall()
{
    const QString folder = platform::runtimeFolder();
    if (folder.isEmpty())
        return {{}, platform::runtimeFolderError()};
    const QString path = folder + u"/modem.log"_s;
    const int fd = line::openRuntimeFile(path, O_RDONLY);
    if (fd < 0 && errno == ENOENT)
        return {{},
                u"No modem call was made since this session began (%1 is not there)."_s.arg(path)};
    if (fd < 0)
        return {{},
                u"The modem log %1 cannot be read: %2."_s.arg(
                    path, QString::fromLocal8Bit(std::strerror(errno)))};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {{}, u"The modem log %1 cannot be read."_s.arg(path)};
    }
    if (file.size() > kMaxLogBytes)
        file.seek(file.size() - kMaxLogBytes);
    const QString call = lastCallOf(QString::fromUtf8(file.read(kMaxLogBytes)));
    if (call.trimmed().isEmpty())
        return {
            {},
            u"The modem log %1 is empty: no modem call was made since it was emptied."_s.arg(path)};
    return {maskSecrets(call, storedPasswords()), {}};
}

} // namespace modems
