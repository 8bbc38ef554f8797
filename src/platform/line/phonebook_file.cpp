#include "platform/line/phonebook_file.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace line {

namespace {

QString decode(const QByteArray &bytes)
{
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
    return decoded;
}

// Calls lineRead(text) for each line of the text, without its line end.
template <typename LineRead> void forEachLine(QStringView decoded, LineRead lineRead)
{
    // Lines are short: a plain scan finds their ends faster than a search.
    const char16_t *const units = decoded.utf16();
    const char16_t *const last = units + decoded.size();
    qsizetype start = 0;
    for (;;) {
        const char16_t *const lf = std::find(units + start, last, u'\n');
        const qsizetype end = lf == last ? -1 : lf - units;
        QStringView text = end < 0 ? decoded.sliced(start) : decoded.sliced(start, end - start);
        // A line ends in LF or CR LF. Every CR before the LF goes with the line
        // end: a CR there could not be written back, since the next read would
        // take it for part of the line end, so a value never ends in one.
        while (text.endsWith(u'\r'))
            text.chop(1);
        // After the final line break comes no line, unless something follows it.
        if (end < 0) {
            if (!text.isEmpty())
                lineRead(text);
            return;
        }
        lineRead(text);
        start = end + 1;
    }
}

// The entry name of a "[Entry name]" line, given without its surrounding blanks.
std::optional<QStringView> sectionName(QStringView trimmed)
{
    if (trimmed.startsWith(u'[') && trimmed.endsWith(u']') && trimmed.size() > 2)
        return trimmed.sliced(1, trimmed.size() - 2);
    return std::nullopt;
}

} // namespace

PhonebookFile PhonebookFile::parse(const QByteArray &bytes)
{
    PhonebookFile file;
    const QString decoded = decode(bytes);
    forEachLine(decoded, [&file](QStringView text) {
        const QStringView trimmed = text.trimmed();
        if (const std::optional<QStringView> found = sectionName(trimmed)) {
            QString name = found->toString();
            // A name given twice, whatever its case, is the first section's.
            if (file.m_sectionOf.try_emplace(name, file.m_sections.size()).second)
                file.m_names.append(name);
            file.m_sections.append(Section{std::move(name), {}});
            return;
        }
        Line line;
        const qsizetype equals = text.indexOf(u'=');
        const bool comment = trimmed.startsWith(u';') || trimmed.startsWith(u'#');
        if (!comment && equals > 0) {
            line.key = text.first(equals).trimmed().toString();
            // Values are kept as written: a password may begin or end with a blank.
            line.value = text.sliced(equals + 1).toString();
        }
        // A Key=value line is written back from its key and value.
        if (line.key.isEmpty())
            line.text = text.toString();
        if (file.m_sections.isEmpty())
            file.m_header.append(std::move(line));
        else
            file.m_sections.last().lines.append(std::move(line));
    });
    return file;
}

QStringList PhonebookFile::entryNames(const QByteArray &bytes)
{
    const QString decoded = decode(bytes);
    QList<QStringView> headers;
    forEachLine(decoded, [&headers](QStringView text) {
        if (const std::optional<QStringView> found = sectionName(text.trimmed()))
            headers.append(*found);
    });
    // The names kept so far, found by their hash in a table of positions in
    // the list: open addressing, so a long phonebook costs no allocation per
    // name beyond the name itself.
    struct Slot
    {
        size_t hash = 0;
        qsizetype name = -1;
    };
    int bits = 4;
    while ((qsizetype(1) << bits) < 2 * headers.size())
        ++bits;
    const size_t mask = (size_t(1) << bits) - 1;
    std::vector<Slot> table(mask + 1);
    QStringList names;
    names.reserve(headers.size());
    for (const QStringView header : std::as_const(headers)) {
        const size_t hash = NameHash()(header);
        // The hash's bits mixed into the table's size: sequential names differ
        // in their last units only.
        size_t at = static_cast<size_t>(quint64(hash) * 0x9E3779B97F4A7C15ULL >> (64 - bits));
        for (;; at = (at + 1) & mask) {
            Slot &slot = table[at];
            if (slot.name < 0) {
                slot = Slot{hash, names.size()};
                names.append(header.toString());
                break;
            }
            if (slot.hash == hash && NameEqual()(names.at(slot.name), header))
                break;
        }
    }
    return names;
}

size_t PhonebookFile::NameHash::operator()(QStringView name) const noexcept
{
    // Every UTF-16 unit is hashed as it folds alone; a surrogate, which folds
    // only with its partner, is left out. Names equal whatever their case so
    // always hash alike.
    size_t hash = 0;
    for (const QChar c : name) {
        char16_t folded = c.unicode();
        if (folded < 0x80) {
            if (folded >= u'A' && folded <= u'Z')
                folded += u'a' - u'A';
        } else if (c.isSurrogate()) {
            continue;
        } else {
            folded = c.toCaseFolded().unicode();
        }
        hash = hash * 31 + folded;
    }
    return hash;
}

bool PhonebookFile::NameEqual::operator()(QStringView a, QStringView b) const noexcept
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
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
    return m_names;
}

qsizetype PhonebookFile::sectionIndex(const QString &entry) const
{
    if (entry.isEmpty())
        return -1;
    const auto found = m_sectionOf.find(entry);
    return found == m_sectionOf.end() ? -1 : found->second;
}

const PhonebookFile::Section *PhonebookFile::section(const QString &entry) const
{
    const qsizetype i = sectionIndex(entry);
    return i < 0 ? nullptr : &m_sections.at(i);
}

PhonebookFile::Section *PhonebookFile::section(const QString &entry)
{
    // The sections may be shared with a copy of this file: a change detaches
    // them first, so the copy keeps its own.
    const qsizetype i = sectionIndex(entry);
    return i < 0 ? nullptr : &m_sections[i];
}

QString PhonebookFile::canonicalName(const QString &entry) const
{
    const Section *s = section(entry);
    return s ? s->name : QString();
}

qint64 PhonebookFile::number(const QString &entry, const QString &key, qint64 fallback,
                             qint64 minimum, qint64 maximum) const
{
    bool ok = false;
    const qint64 n = value(entry, key).trimmed().toLongLong(&ok);
    return ok && n >= minimum && n <= maximum ? n : fallback;
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
