#include "platform/profile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QString>

#include <cstring>

// The private-profile reader and writer. The file is bytes in the system code
// page; every line that a write does not touch goes back out byte for byte,
// with its own line ending.

namespace {

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

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return QString::fromLocal8Bit(a).compare(QString::fromLocal8Bit(b), Qt::CaseInsensitive) == 0;
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
// when a file is there but cannot be read.
bool loadLines(const QString &path, QList<Line> &lines, bool &exists)
{
    lines.clear();
    exists = QFileInfo::exists(path);
    if (!exists)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    lines = splitLines(data);
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

bool save(const QString &path, const QList<Line> &lines, bool existed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // The new text goes to a temporary file that replaces the old one only once
    // it is complete, so a failed or interrupted write leaves the old file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The settings file holds a password: a file this write creates is the
    // owner's alone. An existing file keeps the permissions it has.
    if (!existed && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return false;
    }
    const QByteArray data = joinLines(lines);
    // A short write (a full disk, a file size limit) must not reach the
    // rename: commit() alone lets a partly written file through.
    if (file.write(data) != data.size() || !file.flush() || file.size() != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
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
