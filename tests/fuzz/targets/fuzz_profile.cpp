// The private-profile reader and writer on arbitrary files. An input is
// "section NUL key NUL value NUL file" (missing parts take sample values): the
// file is put in place as it is, then the value is written under the section
// and key, the key is deleted and the section is deleted. After a write that
// succeeds the value reads back exactly and every other key reads as before;
// a write that fails leaves the file byte for byte as it was.

#include "fuzz_support.h"
#include "platform/profile.h"

#include <QFile>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

// Reading every key of a large file is quadratic: the first keys are enough.
constexpr qsizetype MaxKeys = 200;

const char *const Missing = "\x01missing";

struct Key
{
    QByteArray section;
    QByteArray key;
    QByteArray value;
};

QByteArray readText(const char *section, const char *key, const QByteArray &path, qsizetype room)
{
    QByteArray buffer(room, '\0');
    const DWORD n = GetPrivateProfileStringA(section, key, Missing, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), path.constData());
    return buffer.left(n);
}

// Names as the reader lists them: each ends with a NUL.
QList<QByteArray> readNames(const char *section, const QByteArray &path, qsizetype room)
{
    QList<QByteArray> names;
    const QByteArray list = readText(section, nullptr, path, room);
    qsizetype start = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list.at(i) == '\0') {
            names.append(list.mid(start, i - start));
            start = i + 1;
        }
    }
    return names;
}

QList<Key> readAll(const QByteArray &path, qsizetype room)
{
    QList<Key> keys;
    for (const QByteArray &section : readNames(nullptr, path, room)) {
        for (const QByteArray &key : readNames(section.constData(), path, room)) {
            if (keys.size() == MaxKeys)
                return keys;
            keys.append({section, key, readText(section.constData(), key.constData(), path, room)});
        }
    }
    return keys;
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return QString::fromLocal8Bit(a.trimmed())
               .compare(QString::fromLocal8Bit(b.trimmed()), Qt::CaseInsensitive) == 0;
}

QByteArray fileBytes(const QByteArray &path)
{
    return readBytes(QString::fromLocal8Bit(path));
}

// Every key read before reads the same now, but those of `section` (and of
// `section`'s `key` alone when a key is given).
void checkOthersKept(const QList<Key> &before, const QByteArray &path, qsizetype room,
                     const QByteArray &section, const QByteArray *key, const QByteArray &input)
{
    for (const Key &k : before) {
        if (sameName(k.section, section) && (!key || sameName(k.key, *key)))
            continue;
        const QByteArray now = readText(k.section.constData(), k.key.constData(), path, room);
        if (now != k.value)
            fuzz::fail("another key changed", k.section + '/' + k.key + ": " + k.value + " -> " +
                                                  now + "\ninput: " + input);
    }
}

// Splits off the first part, up to a NUL, or gives the fallback when none is left.
QByteArray takePart(QByteArray &rest, const char *fallback)
{
    const qsizetype nul = rest.indexOf('\0');
    if (nul < 0)
        return fallback;
    const QByteArray part = rest.left(nul);
    rest = rest.mid(nul + 1);
    return part;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QByteArray rest = input;
    const QByteArray section = takePart(rest, "Settings");
    const QByteArray key = takePart(rest, "Login");
    const QByteArray value = takePart(rest, "demo");
    const QByteArray &file = rest;

    const QByteArray path = QFile::encodeName(fuzz::home().path() + QStringLiteral("/test.ini"));
    fuzz::check(writeBytes(QString::fromLocal8Bit(path), file), "cannot write the test file");
    // Room for anything the file or the value can give.
    const qsizetype room = 2 * (file.size() + value.size()) + 64;

    // Write the value.
    QList<Key> before = readAll(path, room);
    QByteArray bytesBefore = fileBytes(path);
    if (WritePrivateProfileStringA(section.constData(), key.constData(), value.constData(),
                                   path.constData())) {
        const QByteArray back = readText(section.constData(), key.constData(), path, room);
        if (back != value)
            fuzz::fail("a written value reads back otherwise",
                       section + '/' + key + ": " + value + " -> " + back + "\ninput: " + input);
        checkOthersKept(before, path, room, section, &key, input);
    } else {
        fuzz::check(fileBytes(path) == bytesBefore, "a refused write changed the file", input);
    }

    // Delete the key.
    before = readAll(path, room);
    bytesBefore = fileBytes(path);
    if (WritePrivateProfileStringA(section.constData(), key.constData(), nullptr,
                                   path.constData())) {
        const QByteArray back = readText(section.constData(), key.constData(), path, room);
        fuzz::check(back == Missing, "a deleted key still reads", input);
        checkOthersKept(before, path, room, section, &key, input);
    } else {
        fuzz::check(fileBytes(path) == bytesBefore, "a refused delete changed the file", input);
    }

    // Delete the section.
    before = readAll(path, room);
    bytesBefore = fileBytes(path);
    if (WritePrivateProfileStringA(section.constData(), nullptr, nullptr, path.constData())) {
        fuzz::check(readNames(section.constData(), path, room).isEmpty(),
                    "a deleted section still has keys", input);
        // A name holding a NUL is listed in pieces, which may match any name.
        if (!fileBytes(path).contains('\0')) {
            for (const QByteArray &name : readNames(nullptr, path, room))
                fuzz::check(!sameName(name, section), "a deleted section is still listed", input);
        }
        checkOthersKept(before, path, room, section, nullptr, input);
    } else {
        fuzz::check(fileBytes(path) == bytesBefore, "a refused delete changed the file", input);
    }
    return 0;
}
