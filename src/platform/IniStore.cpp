#include "IniStore.h"

#include "Errors.h"
#include "Latin1Text.h"
#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

IniFile::WriteInterruptHook &interruptHook()
{
    static IniFile::WriteInterruptHook hook;
    return hook;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString oneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// A section or key name as the file holds it: one line, without surrounding blanks.
QString nameOf(const QString &name)
{
    return oneLine(name).trimmed();
}

} // namespace

// The file as lines, each classified. Writes edit the lines and save them all, so comments and
// lines the reader does not understand survive.
struct IniFile::Document {
    enum class Kind { Other, Section, Entry };
    struct Line {
        Kind kind = Kind::Other;
        QString text;  // the line as it stands in the file
        QString name;  // section or key name, trimmed
        QString value; // entry value, trimmed
    };
    QList<Line> lines;

    // Names are kept as callers give them (nameOf), so that every name listed can be looked up:
    // a lone CR inside a name, which ends no line here, counts as a space.
    static Line classify(const QString &text)
    {
        Line line;
        line.text = text;
        const QString trimmed = text.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            // The last ']' closes the name, so a name may hold ']' itself.
            const qsizetype close = trimmed.lastIndexOf(QLatin1Char(']'));
            if (close > 0) {
                line.kind = Kind::Section;
                line.name = nameOf(trimmed.mid(1, close - 1));
            }
            return line;
        }
        if (trimmed.startsWith(QLatin1Char(';')))
            return line;
        const qsizetype eq = trimmed.indexOf(QLatin1Char('='));
        if (eq > 0) {
            const QString name = nameOf(trimmed.left(eq));
            if (!name.isEmpty()) {
                line.kind = Kind::Entry;
                line.name = name;
                line.value = trimmed.mid(eq + 1).trimmed();
            }
        }
        return line;
    }

    // Calls f(index) for every entry line inside any occurrence of section.
    template <typename F>
    void forEachEntry(const QString &section, F f) const
    {
        bool inside = false;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const Line &line = lines.at(i);
            if (line.kind == Kind::Section)
                inside = sameName(line.name, section);
            else if (inside && line.kind == Kind::Entry)
                f(i);
        }
    }

    qsizetype findEntry(const QString &section, const QString &key) const
    {
        qsizetype found = -1;
        forEachEntry(section, [&](qsizetype i) {
            if (found < 0 && sameName(lines.at(i).name, key))
                found = i;
        });
        return found;
    }

    qsizetype findSection(const QString &section) const
    {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines.at(i).kind == Kind::Section && sameName(lines.at(i).name, section))
                return i;
        }
        return -1;
    }
};

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

bool IniFile::exists() const
{
    return QFileInfo(m_path).isFile();
}

IniFile::Document IniFile::load() const
{
    Document doc;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return doc;
    const QStringList lines = Latin1Text::splitLines(file.readAll());
    doc.lines.reserve(lines.size());
    for (const QString &text : lines)
        doc.lines.append(Document::classify(text));
    return doc;
}

void IniFile::save(const Document &doc) const
{
    QStringList lines;
    lines.reserve(doc.lines.size());
    for (const Document::Line &line : doc.lines)
        lines.append(line.text);
    const QByteArray bytes = Latin1Text::joinLines(lines);

    QString reason;
    const bool written = SafeFile::replace(m_path, bytes, &reason, [this] {
        if (interruptHook())
            interruptHook()(m_path);
    });
    if (!written)
        throw CorvaneError(QStringLiteral("Unable to write to %1 (%2)").arg(m_path, reason));
}

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Document doc = load();
    const qsizetype i = doc.findEntry(nameOf(section), nameOf(key));
    if (i < 0)
        return defaultValue;
    return doc.lines.at(i).value.left(MaxValueLength);
}

bool IniFile::parseInteger(const QString &text, int *value)
{
    QString t = text.trimmed();
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.at(0) == QLatin1Char('-');
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t.remove(0, 2);
    } else if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        t.remove(0, 1);
    }
    if (t.isEmpty())
        return false;
    for (const QChar c : t) {
        const bool digit = base == 10 ? c.isDigit() && c.unicode() < 128 : isxdigit(c.unicode()) && c.unicode() < 128;
        if (!digit)
            return false;
    }
    bool ok = false;
    const qlonglong magnitude = t.toLongLong(&ok, base);
    if (!ok)
        return false;
    const qlonglong signedValue = negative ? -magnitude : magnitude;
    // Hexadecimal text names a 32-bit pattern: "0xFFFFFFFF" is -1, as the platform reads it.
    if (base == 16 && !negative && magnitude > 0x7FFFFFFFLL && magnitude <= 0xFFFFFFFFLL) {
        *value = static_cast<int>(static_cast<quint32>(magnitude));
        return true;
    }
    if (signedValue < INT_MIN || signedValue > INT_MAX)
        return false;
    *value = static_cast<int>(signedValue);
    return true;
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const
{
    const Document doc = load();
    const qsizetype i = doc.findEntry(nameOf(section), nameOf(key));
    if (i < 0)
        return defaultValue;
    int value = 0;
    return parseInteger(doc.lines.at(i).value.left(MaxValueLength), &value) ? value : defaultValue;
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    writeStrings(section, {{key, value}});
}

void IniFile::writeStrings(const QString &section, const QList<QPair<QString, QString>> &values)
{
    if (values.isEmpty())
        return;
    const QString sec = nameOf(section);
    Document doc = load();
    for (const auto &[key, value] : values) {
        const QString k = nameOf(key);
        const QString v = oneLine(value).trimmed();
        const qsizetype at = doc.findEntry(sec, k);
        if (at >= 0) {
            Document::Line &line = doc.lines[at];
            line.value = v;
            line.text = line.name + QLatin1Char('=') + v;
            continue;
        }
        const Document::Line entry = Document::classify(k + QLatin1Char('=') + v);
        const qsizetype header = doc.findSection(sec);
        if (header < 0) {
            doc.lines.append(Document::classify(QLatin1Char('[') + sec + QLatin1Char(']')));
            doc.lines.append(entry);
            continue;
        }
        // After the last entry of the section's first occurrence, before any blank lines.
        qsizetype insert = header + 1;
        for (qsizetype i = header + 1; i < doc.lines.size(); ++i) {
            const Document::Line &line = doc.lines.at(i);
            if (line.kind == Document::Kind::Section)
                break;
            if (line.kind == Document::Kind::Entry)
                insert = i + 1;
        }
        doc.lines.insert(insert, entry);
    }
    save(doc);
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeInteger(section, key, value ? 1 : 0);
}

void IniFile::eraseSection(const QString &section)
{
    Document doc = load();
    QList<Document::Line> kept;
    kept.reserve(doc.lines.size());
    bool inside = false;
    bool changed = false;
    for (const Document::Line &line : std::as_const(doc.lines)) {
        if (line.kind == Document::Kind::Section)
            inside = sameName(line.name, nameOf(section));
        if (inside)
            changed = true;
        else
            kept.append(line);
    }
    if (!changed)
        return;
    doc.lines = std::move(kept);
    save(doc);
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    Document doc = load();
    const qsizetype at = doc.findEntry(nameOf(section), nameOf(key));
    if (at < 0)
        return;
    doc.lines.removeAt(at);
    save(doc);
}

bool IniFile::sectionExists(const QString &section) const
{
    return load().findSection(nameOf(section)) >= 0;
}

QStringList IniFile::sections() const
{
    const Document doc = load();
    QStringList names;
    for (const Document::Line &line : doc.lines) {
        if (line.kind != Document::Kind::Section)
            continue;
        bool known = false;
        for (const QString &name : std::as_const(names))
            known = known || sameName(name, line.name);
        if (!known)
            names.append(line.name);
    }
    return names;
}

QList<QPair<QString, QString>> IniFile::sectionValues(const QString &section) const
{
    const Document doc = load();
    QList<QPair<QString, QString>> values;
    doc.forEachEntry(nameOf(section), [&](qsizetype i) {
        const Document::Line &line = doc.lines.at(i);
        for (const auto &kv : std::as_const(values)) {
            if (sameName(kv.first, line.name))
                return;
        }
        values.append({line.name, line.value.left(MaxValueLength)});
    });
    return values;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList names;
    for (const auto &kv : sectionValues(section))
        names.append(kv.first);
    return names;
}

void IniFile::setWriteInterruptHook(WriteInterruptHook hook)
{
    interruptHook() = std::move(hook);
}
