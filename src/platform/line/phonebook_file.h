#pragma once

// A phonebook file in the system's text format: an optional header of
// comments, then one "[Entry name]" section per entry holding "Key=value"
// lines. Keys and entry names match whatever their case; reading then writing
// a file keeps its entries, their order, unknown keys and comments.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <unordered_map>

namespace line {

class PhonebookFile final
{
public:
    static PhonebookFile parse(const QByteArray &bytes);
    QByteArray serialize() const;

    // Entry names in file order; a name given twice is listed once.
    QStringList entryNames() const;
    // The names parse(bytes).entryNames() gives, without keeping the rest.
    static QStringList entryNames(const QByteArray &bytes);
    // The entry's name as the file spells it, or an empty text when unknown.
    QString canonicalName(const QString &entry) const;

    bool hasValue(const QString &entry, const QString &key) const;
    QString value(const QString &entry, const QString &key, const QString &fallback = {}) const;
    // The key's value as a whole number within [minimum, maximum] (blanks
    // around it allowed); `fallback` when it is missing, not a number or outside.
    qint64 number(const QString &entry, const QString &key, qint64 fallback, qint64 minimum,
                  qint64 maximum) const;
    // Replaces the key's value where it stands, or adds the key after the
    // entry's last key. False, changing nothing, when the entry is unknown or
    // the key or value could not be read back as written: a line break (CR or
    // LF) anywhere, or a key that is empty, has blanks around it, holds "=" or
    // starts as a comment or an entry name would.
    bool setValue(const QString &entry, const QString &key, const QString &value);
    void removeValue(const QString &entry, const QString &key);

private:
    struct Line
    {
        QString text; // the line as read, for comments and blank lines
        QString key;  // empty unless the line is Key=value
        QString value;
    };
    struct Section
    {
        QString name;
        QList<Line> lines;
    };

    qsizetype sectionIndex(const QString &entry) const;
    const Section *section(const QString &entry) const;
    Section *section(const QString &entry);

    QList<Line> m_header;
    QList<Section> m_sections;
    // Built once by parse(), since sections are never added nor renamed later:
    // each name's first spelling in file order, and the position of the first
    // section of each name, whatever its case.
    QStringList m_names;
    // Names match when a case-insensitive comparison finds them equal.
    struct NameHash
    {
        size_t operator()(QStringView name) const noexcept;
    };
    struct NameEqual
    {
        bool operator()(QStringView a, QStringView b) const noexcept;
    };
    std::unordered_map<QString, qsizetype, NameHash, NameEqual> m_sectionOf;
};

} // namespace line
