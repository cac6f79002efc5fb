#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// One INI text file: "[Section]" lines open sections, "Key=Value" lines hold values.
//
// - Section and key names compare without regard to letter case.
// - Nothing is cached: every read goes to the file, and every write is on the disk when the
//   call returns. A write replaces the whole file in one step (SafeFile), so a crash or a full
//   disk during a write leaves the previous file whole.
// - A refused write throws CorvaneError "Unable to write to <path> (<the system's reason>)".
// - A key present with an empty value reads as the empty text; an absent key gives the default.
//   Values read back are at most 2,047 characters long.
// - Sections and keys are listed in file order.
//
// Damaged files read with a defined result: names and values are trimmed of surrounding blanks;
// lines that are neither a section header nor "Key=Value" (and ';' comments) are ignored and
// kept as they are on rewrite; keys before the first section belong to no section. A section that
// occurs more than once reads as one section made of all its occurrences, the first occurrence of
// a key winning; writes change that first occurrence (new keys go into the first occurrence of
// the section) and erasing removes every occurrence. Bytes are Latin-1; lines end in CR LF or LF.
// Files are written with CR LF line ends; line breaks inside a written name or value become
// spaces, since a value is one line.
class IniFile {
public:
    static constexpr int MaxValueLength = 2047;

    explicit IniFile(QString path);

    const QString &path() const { return m_path; }
    bool exists() const;

    QString readString(const QString &section, const QString &key, const QString &defaultValue) const;
    // Decimal, or hexadecimal after "0x" or "$"; any other text (or a value out of range)
    // counts as absent.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;
    // An integer value other than 0 is true.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    // Writes several keys of one section with a single rewrite of the file.
    void writeStrings(const QString &section, const QList<QPair<QString, QString>> &values);

    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);

    bool sectionExists(const QString &section) const;
    QStringList sections() const;
    QStringList keys(const QString &section) const;
    // The section's keys with their values as read (each cut to MaxValueLength), in file order.
    QList<QPair<QString, QString>> sectionValues(const QString &section) const;

    // Test hook: called halfway through writing the temporary file, before it replaces the
    // real one; a test process ends itself here to show that a crash leaves the old file.
    using WriteInterruptHook = std::function<void(const QString &path)>;
    static void setWriteInterruptHook(WriteInterruptHook hook);

    static bool parseInteger(const QString &text, int *value);

private:
    struct Document;
    Document load() const;
    void save(const Document &doc) const;

    QString m_path;
};
