#include "platform/line/phonebook_file.h"

using namespace Qt::StringLiterals;

namespace line {

PhonebookFile PhonebookFile::parse(const QByteArray &bytes)
{
    PhonebookFile file;
    // Decoding drops one byte order mark at the very start. An editor may have
    // left more, or blanks before them: no mark among the file's leading
    // blanks is text, or a rewrite, which starts the file at its first
    // printed character, would make the next read see another first line.
    QString decoded = QString::fromUtf8(bytes);
    for (qsizetype i = 0; i < decoded.size();) {
        if (decoded.at(i) == QChar(0xFEFF))
            decoded.remove(i, 1);
        else if (decoded.at(i).isSpace())
            ++i;
        else
            break;
    }
    const QStringList lines = decoded.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString text = lines.at(i);
        // A line ends in LF or CR LF. Every CR before the LF goes with the line
        // end: a CR there could not be written back, since the next read would
        // take it for part of the line end, so a value never ends in one.
        while (text.endsWith(u'\r'))
            text.chop(1);
        // The split leaves one empty piece after the final line break.
        if (i == lines.size() - 1 && text.isEmpty())
            break;
        const QString trimmed = text.trimmed();
        if (trimmed.startsWith(u'[') && trimmed.endsWith(u']') && trimmed.size() > 2) {
            file.m_sections.append(Section{trimmed.mid(1, trimmed.size() - 2), {}});
            continue;
        }
        Line line{text, {}, {}};
        const qsizetype equals = text.indexOf(u'=');
        const bool comment = trimmed.startsWith(u';') || trimmed.startsWith(u'#');
        if (!comment && equals > 0) {
            line.key = text.left(equals).trimmed();
            // Values are kept as written: a password may begin or end with a blank.
            line.value = text.mid(equals + 1);
        }
        if (file.m_sections.isEmpty())
            file.m_header.append(line);
        else
            file.m_sections.last().lines.append(line);
    }
    return file;
}

QByteArray PhonebookFile::serialize() const
{
    QString out;
    auto writeLine = [&out](const Line &line) {
        out += line.key.isEmpty() ? line.text : line.key + u'=' + line.value;
        out += u'\n';
    };
    for (const Line &line : m_header)
        writeLine(line);
    for (const Section &s : m_sections) {
        out += u"["_s + s.name + u"]\n"_s;
        for (const Line &line : s.lines)
            writeLine(line);
    }
    return out.toUtf8();
}

QStringList PhonebookFile::entryNames() const
{
    QStringList names;
    for (const Section &s : m_sections) {
        if (!names.contains(s.name, Qt::CaseInsensitive))
            names.append(s.name);
    }
    return names;
}

const PhonebookFile::Section *PhonebookFile::section(const QString &entry) const
{
    if (entry.isEmpty())
        return nullptr;
    for (const Section &s : m_sections) {
        if (s.name.compare(entry, Qt::CaseInsensitive) == 0)
            return &s;
    }
    return nullptr;
}

PhonebookFile::Section *PhonebookFile::section(const QString &entry)
{
    return const_cast<Section *>(std::as_const(*this).section(entry));
}

QString PhonebookFile::canonicalName(const QString &entry) const
{
    const Section *s = section(entry);
    return s ? s->name : QString();
}

bool PhonebookFile::hasValue(const QString &entry, const QString &key) const
{
    if (const Section *s = section(entry)) {
        for (const Line &line : s->lines) {
            if (line.key.compare(key, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

QString PhonebookFile::value(const QString &entry, const QString &key,
                             const QString &fallback) const
{
    if (const Section *s = section(entry)) {
        for (const Line &line : s->lines) {
            if (line.key.compare(key, Qt::CaseInsensitive) == 0)
                return line.value;
        }
    }
    return fallback;
}

bool PhonebookFile::setValue(const QString &entry, const QString &key, const QString &value)
{
    Section *s = section(entry);
    const auto breaksLine = [](const QString &text) {
        return text.contains(u'\n') || text.contains(u'\r');
    };
    if (!s || key.isEmpty() || key != key.trimmed() || key.contains(u'=') || key.startsWith(u';') ||
        key.startsWith(u'#') || key.startsWith(u'[') || breaksLine(key) || breaksLine(value))
        return false;
    qsizetype lastKey = -1;
    for (qsizetype i = 0; i < s->lines.size(); ++i) {
        Line &line = s->lines[i];
        if (line.key.compare(key, Qt::CaseInsensitive) == 0) {
            line.value = value;
            return true;
        }
        if (!line.key.isEmpty())
            lastKey = i;
    }
    s->lines.insert(lastKey + 1, Line{{}, key, value});
    return true;
}

void PhonebookFile::removeValue(const QString &entry, const QString &key)
{
    if (Section *s = section(entry)) {
        s->lines.removeIf(
            [&key](const Line &line) { return line.key.compare(key, Qt::CaseInsensitive) == 0; });
    }
}

} // namespace line
