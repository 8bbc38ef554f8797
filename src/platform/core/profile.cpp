#include "platform/profile.h"

#include "platform/save_file.h"

#include "platform/core/bounded_read.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>

// The private-profile reader and writer. The file is bytes in the system code
// page; every line that a write does not touch goes back out byte for byte,
// with its own line ending.

namespace {

// Why the last call of this thread could not use its file; empty when it could.
thread_local QString lastProblem;

struct Line
{
    QByteArray text; // without its line ending
    QByteArray eol;  // "\r\n", "\n", or "" for a last line without one
};

enum class Kind { Blank, Comment, Section, Entry, Other };

struct Parsed
{
    Kind kind = Kind::Other;
    QByteArray name;  // section or key name, blanks trimmed
    QByteArray value; // entry value, blanks trimmed, quotes kept
};

QList<Line> splitLines(const QByteArray &data)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype nl = data.indexOf('\n', pos);
        if (nl < 0) {
            lines.append({data.mid(pos), QByteArray()});
            break;
        }
        qsizetype end = nl;
        QByteArray eol("\n");
        if (end > pos && data.at(end - 1) == '\r') {
            --end;
            eol = QByteArrayLiteral("\r\n");
        }
        lines.append({data.mid(pos, end - pos), eol});
        pos = nl + 1;
    }
    return lines;
}

QByteArray joinLines(const QList<Line> &lines)
{
    QByteArray out;
    for (const Line &line : lines)
        out += line.text + line.eol;
    return out;
}

Parsed parse(const QByteArray &text)
{
    Parsed p;
    QByteArray t = text.trimmed();
    // Editors may save the file with a UTF-8 byte order mark before its first line.
    if (t.startsWith("\xEF\xBB\xBF"))
        t = t.mid(3).trimmed();
    if (t.isEmpty()) {
        p.kind = Kind::Blank;
    } else if (t.startsWith(';')) {
        p.kind = Kind::Comment;
    } else if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        p.kind = Kind::Section;
        p.name = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
    } else {
        const qsizetype eq = t.indexOf('=');
        p.name = (eq < 0 ? t : t.left(eq)).trimmed();
        if (eq >= 0)
            p.value = t.mid(eq + 1).trimmed();
        p.kind = p.name.isEmpty() ? Kind::Other : Kind::Entry;
    }
    return p;
}

// Names match without regard to letter case. Bytes that are no text in the
// code page would all decode to the same replacement character, so a name
// holding them matches only its exact bytes.
bool sameName(const QByteArray &a, const QByteArray &b)
{
    if (a == b)
        return true;
    // Stateless: a sequence cut at the end is an error too, not kept for later.
    QStringDecoder decodeA(QStringDecoder::System, QStringConverter::Flag::Stateless);
    QStringDecoder decodeB(QStringDecoder::System, QStringConverter::Flag::Stateless);
    const QString textA = decodeA(a);
    const QString textB = decodeB(b);
    return !decodeA.hasError() && !decodeB.hasError() &&
           textA.compare(textB, Qt::CaseInsensitive) == 0;
}

QByteArray unquoted(const QByteArray &value)
{
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        return value.mid(1, value.size() - 2);
    return value;
}

// How a value is stored so that it reads back exactly as written: reading
// trims blanks and removes one pair of surrounding quotes, so a value that has
// either is written inside quotes of its own.
QByteArray storedForm(const QByteArray &value)
{
    const bool quoted = value.size() >= 2 && value.startsWith('"') && value.endsWith('"');
    if (value.trimmed().size() != value.size() || quoted)
        return '"' + value + '"';
    return value;
}

QString pathOf(LPCSTR fileName)
{
    return QFile::decodeName(QByteArray(fileName));
}

// The lines of a file; `exists` tells whether there was a file at all. False
// when something is there but cannot be read: no permission, a named pipe, a
// device or a folder, or a file larger than any settings file would be. Such a
// file is not read at all, and the reason is kept for the caller.
bool loadLines(const QString &path, QList<Line> &lines, bool &exists)
{
    lines.clear();
    const platform::BoundedRead file = platform::readBounded(path, platform::SettingsReadLimit);
    exists = file.status != platform::BoundedRead::Status::Missing;
    if (!exists)
        return true;
    if (!file.read()) {
        lastProblem = file.reason;
        return false;
    }
    lines = splitLines(file.data);
    return true;
}

// The section's first line (its header) and the line after its last, or -1.
struct Range
{
    qsizetype header = -1;
    qsizetype end = -1;
};

Range findSection(const QList<Line> &lines, const QByteArray &section, qsizetype from = 0)
{
    Range r;
    for (qsizetype i = from; i < lines.size(); ++i) {
        const Parsed p = parse(lines.at(i).text);
        if (p.kind != Kind::Section)
            continue;
        if (r.header >= 0) {
            r.end = i;
            return r;
        }
        if (sameName(p.name, section))
            r.header = i;
    }
    if (r.header >= 0)
        r.end = lines.size();
    return r;
}

qsizetype findEntry(const QList<Line> &lines, const Range &r, const QByteArray &key)
{
    for (qsizetype i = r.header + 1; i < r.end; ++i) {
        const Parsed p = parse(lines.at(i).text);
        if (p.kind == Kind::Entry && sameName(p.name, key))
            return i;
    }
    return -1;
}

DWORD copyText(LPSTR out, DWORD size, const QByteArray &text)
{
    const DWORD n = qMin(static_cast<DWORD>(text.size()), size - 1);
    std::memcpy(out, text.constData(), n);
    out[n] = '\0';
    return n;
}

// Names, each followed by a NUL, and one more NUL at the end. When they do not
// fit, the list is cut and still ends with two NULs.
DWORD copyList(LPSTR out, DWORD size, const QList<QByteArray> &names)
{
    QByteArray all;
    for (const QByteArray &name : names)
        all += name + '\0';
    if (static_cast<DWORD>(all.size()) + 1 <= size) {
        std::memcpy(out, all.constData(), all.size());
        out[all.size()] = '\0';
        if (all.isEmpty() && size >= 2)
            out[1] = '\0';
        return static_cast<DWORD>(all.size());
    }
    if (size < 2) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, all.constData(), size - 2);
    out[size - 2] = '\0';
    out[size - 1] = '\0';
    return size - 2;
}

void appendDistinct(QList<QByteArray> &names, const QByteArray &name)
{
    for (const QByteArray &known : names) {
        if (sameName(known, name))
            return;
    }
    names.append(name);
}

// Texts that would break the line structure of the file are refused rather
// than written: a line break in a value would inject keys of its own.
bool breaksLine(LPCSTR text)
{
    return text && (std::strchr(text, '\r') || std::strchr(text, '\n'));
}

// Whether the line reads back as that section header or that key and value.
bool readsBackAs(const QByteArray &line, Kind kind, const QByteArray &name,
                 const QByteArray &value = {})
{
    const Parsed p = parse(line);
    return p.kind == kind && p.name == name && (kind != Kind::Entry || unquoted(p.value) == value);
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool save(const QString &path, const QList<Line> &lines, bool existed)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!QDir().mkpath(folder.filePath())) {
        const int error = errno;
        lastProblem = systemReason(folder.exists() && !folder.isDir() ? ENOTDIR : error);
        return false;
    }
    // The new text replaces the old one whole, and a link is followed: the
    // file it leads to is the one replaced. The settings file holds a password: whatever access the
    // group and others had, the file this write leaves is the owner's alone. The owner keeps the
    // access it had; a new file is readable and writable by its owner.
    constexpr auto ownerBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                               QFileDevice::ExeOwner | QFileDevice::ReadUser |
                               QFileDevice::WriteUser | QFileDevice::ExeUser;
    const QFileDevice::Permissions permissions =
        existed ? QFile::permissions(path) & ownerBits
                : QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    return platform::replaceFile(path, joinLines(lines),
                                 {.permissions = permissions, .onDisk = true}, &lastProblem);
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    lastProblem.clear();
    if (!lpReturnedString || nSize == 0)
        return 0;

    QList<Line> lines;
    bool exists = false;
    if (lpFileName)
        loadLines(pathOf(lpFileName), lines, exists);

    if (!lpAppName) {
        QList<QByteArray> sections;
        for (const Line &line : lines) {
            const Parsed p = parse(line.text);
            if (p.kind == Kind::Section)
                appendDistinct(sections, p.name);
        }
        return copyList(lpReturnedString, nSize, sections);
    }

    const QByteArray section = QByteArray(lpAppName).trimmed();
    const Range r = findSection(lines, section);
    if (!lpKeyName) {
        QList<QByteArray> keys;
        for (qsizetype i = r.header + 1; r.header >= 0 && i < r.end; ++i) {
            const Parsed p = parse(lines.at(i).text);
            if (p.kind == Kind::Entry)
                appendDistinct(keys, p.name);
        }
        return copyList(lpReturnedString, nSize, keys);
    }

    if (r.header >= 0) {
        const qsizetype at = findEntry(lines, r, QByteArray(lpKeyName).trimmed());
        if (at >= 0)
            return copyText(lpReturnedString, nSize, unquoted(parse(lines.at(at).text).value));
    }
    // The default loses its trailing blanks, as the system's routine does.
    QByteArray fallback(lpDefault ? lpDefault : "");
    while (fallback.endsWith(' '))
        fallback.chop(1);
    return copyText(lpReturnedString, nSize, fallback);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName)
{
    lastProblem.clear();
    if (!lpFileName)
        return FALSE;
    if (!lpAppName)
        return (!lpKeyName && !lpString) ? TRUE : FALSE; // only a request to flush
    const QByteArray section = QByteArray(lpAppName).trimmed();
    const QByteArray key = lpKeyName ? QByteArray(lpKeyName).trimmed() : QByteArray();
    if (breaksLine(lpAppName) || breaksLine(lpKeyName) || breaksLine(lpString) ||
        section.contains(']') ||
        (lpKeyName &&
         (key.isEmpty() || key.contains('=') || key.startsWith(';') || key.startsWith('['))))
        return FALSE;
    // A name the reader would take for something else (a key that starts with a
    // byte order mark and a bracket reads as a section) is refused too: what is
    // written must read back as itself.
    if (!readsBackAs('[' + section + ']', Kind::Section, section) ||
        (lpKeyName && lpString &&
         !readsBackAs(key + '=' + storedForm(QByteArray(lpString)), Kind::Entry, key,
                      QByteArray(lpString))))
        return FALSE;

    const QString path = pathOf(lpFileName);
    QList<Line> lines;
    bool existed = false;
    // A file that is there but cannot be read is never replaced: its other
    // lines would be lost.
    if (!loadLines(path, lines, existed))
        return FALSE;
    const QByteArray before = joinLines(lines);

    QByteArray eol = QByteArrayLiteral("\r\n");
    if (!before.contains("\r\n") && before.contains('\n'))
        eol = QByteArrayLiteral("\n");

    if (!lpKeyName) {
        // Delete every section of that name, header to the next header.
        for (Range r = findSection(lines, section); r.header >= 0;
             r = findSection(lines, section, r.header))
            lines.remove(r.header, r.end - r.header);
    } else {
        const Range r = findSection(lines, section);
        if (!lpString) {
            // Every line of that key in the section goes, so no older copy
            // of the value shows through afterwards.
            Range current = r;
            while (current.header >= 0) {
                const qsizetype at = findEntry(lines, current, key);
                if (at < 0)
                    break;
                lines.remove(at);
                --current.end;
            }
        } else {
            const QByteArray value = storedForm(QByteArray(lpString));
            if (r.header < 0) {
                if (!lines.isEmpty() && lines.last().eol.isEmpty())
                    lines.last().eol = eol;
                lines.append({'[' + section + ']', eol});
                lines.append({key + '=' + value, eol});
            } else if (const qsizetype at = findEntry(lines, r, key); at >= 0) {
                // The key keeps the spelling it has in the file.
                lines[at].text = parse(lines.at(at).text).name + '=' + value;
            } else {
                // After the section's last key line (or its header), so blank
                // lines and comments that lead to the next section stay there.
                qsizetype after = r.header;
                for (qsizetype i = r.header + 1; i < r.end; ++i) {
                    if (parse(lines.at(i).text).kind == Kind::Entry)
                        after = i;
                }
                if (lines.at(after).eol.isEmpty())
                    lines[after].eol = eol;
                lines.insert(after + 1, {key + '=' + value, eol});
            }
        }
    }

    const QByteArray after = joinLines(lines);
    if (after == before && (existed || after.isEmpty()))
        return TRUE;
    return save(path, lines, existed) ? TRUE : FALSE;
}

QString platform::lastProfileProblem()
{
    return lastProblem;
}
