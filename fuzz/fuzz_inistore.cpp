// The INI store over a file of any content. Reading: every section listed exists, every key
// listed reads back as the value listed for it, within the length limit, and integers read as
// the store parses them. Writing (a value, a section erased, a key deleted): what was written
// reads back, and every other key of the file reads as before.
//
// Input: the operation (one byte), the file's length (two bytes, little-endian) and bytes, then
// the texts the operation uses, separated by 0 bytes.

#include "FuzzSupport.h"

#include "Errors.h"
#include "IniStore.h"

#include <QMap>

namespace {

// Section and key names as the store looks them up: one line, no surrounding blanks, any case.
QString lookupName(QString name)
{
    name.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return name.replace(QLatin1Char('\n'), QLatin1Char(' ')).trimmed().toCaseFolded();
}

using Snapshot = QMap<QString, QList<QPair<QString, QString>>>; // by lookup name of the section

QString describe(const QList<QPair<QString, QString>> &values)
{
    QStringList lines;
    for (const auto &[key, value] : values)
        lines << key + QLatin1Char('=') + value;
    return lines.join(QLatin1Char('\n'));
}

// Reads the whole file through the store and checks that its answers agree.
Snapshot readAll(const IniFile &store)
{
    Snapshot snapshot;
    const QStringList sections = store.sections();
    for (const QString &section : sections) {
        FUZZ_CHECK(store.sectionExists(section), section);
        const auto values = store.sectionValues(section);
        QStringList keys;
        for (const auto &[key, value] : values) {
            keys << key;
            FUZZ_CHECK(value.size() <= IniFile::MaxValueLength, QString::number(value.size()));
            // Each read loads the whole file: a few keys a section, of a few sections, say enough.
            if (keys.size() > 12 || snapshot.size() > 12)
                continue;
            const QString read = store.readString(section, key, QStringLiteral("\x01absent"));
            FUZZ_CHECK(read == value, section + QLatin1Char('/') + key + QLatin1String(": ") + read + QLatin1String(" != ") + value);
            int parsed = 0;
            const bool integer = IniFile::parseInteger(value, &parsed);
            FUZZ_CHECK(store.readInteger(section, key, -65535) == (integer ? parsed : -65535), value);
            FUZZ_CHECK(store.readBool(section, key, false) == (integer && parsed != 0), value);
        }
        FUZZ_CHECK(store.keys(section) == keys, keys.join(QLatin1Char(',')));
        // A section listed twice under names that look alike reads as one.
        if (!snapshot.contains(lookupName(section)))
            snapshot.insert(lookupName(section), values);
    }
    return snapshot;
}

// A name the program could write: one line of Latin-1; a key without "=" that does not start
// a section or a comment.
QString nameFrom(const QByteArray &bytes, bool key)
{
    QString name = QString::fromLatin1(bytes);
    name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    name = name.trimmed();
    if (key) {
        name.remove(QLatin1Char('='));
        while (name.startsWith(QLatin1Char('[')) || name.startsWith(QLatin1Char(';')))
            name.remove(0, 1);
        name = name.trimmed();
        if (name.isEmpty())
            name = QStringLiteral("key");
    }
    return name;
}

// An existing name (index into the list) or a new one.
QString pick(std::uint8_t choice, const QStringList &names, const QByteArray &fresh, bool key)
{
    if (choice < 0xC0 && !names.isEmpty())
        return names.at(choice % names.size());
    return nameFrom(fresh, key);
}

void compareOthers(const Snapshot &before, const Snapshot &after, const QString &section, const QString &key)
{
    const QString changed = lookupName(section);
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (it.key() == changed) {
            if (key.isEmpty())
                continue;
            // The section's other keys keep their values (a deleted key may uncover a later one).
            auto without = [&key](QList<QPair<QString, QString>> values) {
                values.removeIf([&key](const auto &kv) { return lookupName(kv.first) == lookupName(key); });
                return values;
            };
            FUZZ_CHECK(without(it.value()) == without(after.value(it.key())),
                       describe(it.value()) + QLatin1String("\n--\n") + describe(after.value(it.key())));
            continue;
        }
        FUZZ_CHECK(after.contains(it.key()) && after.value(it.key()) == it.value(),
                   it.key() + QLatin1Char('\n') + describe(it.value()) + QLatin1String("\n--\n")
                       + describe(after.value(it.key())));
    }
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    const std::uint8_t op = in.byte();
    const QByteArray file = in.bytes(in.word());
    const QString path = Fuzz::writeFile(QStringLiteral("hostile.ini"), file);
    IniFile store(path);
    const Snapshot before = readAll(store);

    const QStringList sections = store.sections();
    const QString section = pick(in.byte(), sections, in.until('\0'), false);
    const QString key = pick(in.byte(), store.keys(section), in.until('\0'), true);
    const QByteArray valueBytes = in.until('\0');
    try {
        switch (op % 4) {
        case 0:
        case 1: {
            store.writeString(section, key, QString::fromLatin1(valueBytes));
            QString expected = QString::fromLatin1(valueBytes);
            expected.replace(QLatin1String("\r\n"), QLatin1String(" "));
            expected.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
            expected = expected.trimmed().left(IniFile::MaxValueLength);
            const QString read = store.readString(section, key, QStringLiteral("\x01absent"));
            FUZZ_CHECK(read == expected, section + QLatin1Char('/') + key + QLatin1String(": ") + read);
            compareOthers(before, readAll(store), section, key);
            break;
        }
        case 2:
            store.eraseSection(section);
            FUZZ_CHECK(!store.sectionExists(section), section);
            compareOthers(before, readAll(store), section, QString());
            break;
        default:
            store.deleteKey(section, key);
            compareOthers(before, readAll(store), section, key);
            break;
        }
    } catch (const CorvaneError &e) {
        Fuzz::fail("a write to a writable file failed", __FILE__, __LINE__, e.message());
    }
    return 0;
}
