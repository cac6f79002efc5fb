#include "KxSettings.h"

#include "AppPaths.h"
#include "Errors.h"
#include "ErrorReport.h"
#include "KxDialog.h"

#include <QDir>

#include <memory>
#include <new>

using namespace SettingsKeys;

TKxSettingsFile *SettingsFile = nullptr;

namespace {

std::unique_ptr<TKxSettingsFile> &settingsHolder()
{
    static std::unique_ptr<TKxSettingsFile> holder;
    return holder;
}

bool terminateRequested = false;

// The start-up that asks goes on; the program entry ends the program instead of running its
// event loop.
void requestTerminate()
{
    terminateRequested = true;
}

} // namespace

TKxSettingsFile::TKxSettingsFile(const QString &settingsPath, const QString &defaultsPath, SettingsMessageSink sink)
    : m_settings(settingsPath), m_defaults(defaultsPath), m_sink(std::move(sink))
{
}

void TKxSettingsFile::showMessage(const QString &message) const
{
    if (m_sink)
        m_sink(message);
    else
        DlgMessage(message);
}

bool TKxSettingsFile::isFormKey(const QString &key)
{
    return key.contains(FormMarker, Qt::CaseInsensitive);
}

void TKxSettingsFile::missingValue(const QString &key) const
{
    showMessage(QStringLiteral("Default user value missing for %1").arg(key));
}

int TKxSettingsFile::GetInteger(const QString &key)
{
    int value = m_settings.readInteger(Current, key, NoValue);
    if (value != NoValue)
        return value;
    if (isFormKey(key))
        return NoValue;
    value = m_defaults.readInteger(FactorySection, key, NoValue);
    if (value != NoValue)
        return value;
    missingValue(key);
    return 0;
}

bool TKxSettingsFile::GetBool(const QString &key)
{
    int value = m_settings.readInteger(Current, key, -1);
    if (value == -1) {
        if (isFormKey(key))
            return false;
        value = m_defaults.readInteger(FactorySection, key, -1);
    }
    if (value == 0)
        return false;
    if (value == 1)
        return true;
    missingValue(key);
    return false;
}

QString TKxSettingsFile::GetString(const QString &key)
{
    QString value = m_settings.readString(Current, key, Invalid);
    if (value != Invalid)
        return value;
    if (isFormKey(key))
        return Invalid;
    value = m_defaults.readString(FactorySection, key, Invalid);
    if (value != Invalid)
        return value;
    missingValue(key);
    return QString();
}

void TKxSettingsFile::SetInteger(const QString &key, int value)
{
    m_settings.writeInteger(Current, key, value);
}

void TKxSettingsFile::SetBool(const QString &key, bool value)
{
    m_settings.writeBool(Current, key, value);
}

void TKxSettingsFile::SetString(const QString &key, const QString &value)
{
    m_settings.writeString(Current, key, value);
}

QString TKxSettingsFile::ReadValue(const QString &section, const QString &key, const QString &defaultValue) const
{
    return m_settings.readString(section, key, defaultValue);
}

void TKxSettingsFile::WriteValue(const QString &section, const QString &key, const QString &value)
{
    m_settings.writeString(section, key, value);
}

QString TKxSettingsFile::ReadFolder(const QString &section, const QString &key) const
{
    QString folder = QDir::toNativeSeparators(AppPaths::userFilesFolder());
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return ReadValue(section, key, folder);
}

int TKxSettingsFile::CheckApplication(const IniFile &store)
{
    if (!store.exists())
        return 0;
    const QString exe = store.readString(App, Exe, QString());
    return AsciiUpper(exe) == AsciiUpper(AppPaths::executableFileName()) ? 1 : -1;
}

void TKxSettingsFile::CopySection(const IniFile &source, const QString &sourceSection, IniFile &target,
                                  const QString &targetSection, bool withPassword)
{
    QList<QPair<QString, QString>> values;
    for (const auto &[key, value] : source.sectionValues(sourceSection)) {
        if (value.isEmpty())
            continue;
        if (!withPassword && key == Pass)
            continue;
        values.append({key, value});
    }
    target.writeStrings(targetSection, values);
}

QString TKxSettingsFile::AsciiUpper(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return out;
}

QStringList TKxSettingsFile::DesktopNamesOf(const IniFile &store)
{
    QStringList names;
    for (const QString &name : store.sections()) {
        const qsizetype at = AsciiUpper(name).indexOf(DesktopPrefix);
        if (at < 0)
            continue;
        names.append(name.size() > DesktopPrefix.size() ? name.mid(at + DesktopPrefix.size()) : name);
    }
    return names;
}

const QStringList &TKxSettingsFile::DesktopNames()
{
    m_desktopNames = DesktopNamesOf(m_settings);
    return m_desktopNames;
}

bool TKxSettingsFile::DesktopExists(const QString &name) const
{
    return !m_settings.keys(desktopSection(name)).isEmpty();
}

namespace {

// A scrambled password is any run of bytes, but an INI value is one trimmed line: a value the
// store would change (a line break, blanks at either end) is kept as "{hex}" and the bytes in
// hexadecimal. Every other value is stored as it is, as it always was.
const QString HexPasswordMarker = QStringLiteral("{hex}");

bool storesUnchanged(const QString &value)
{
    return !value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')) && value.trimmed() == value
           && !value.startsWith(HexPasswordMarker);
}

} // namespace

QString TKxSettingsFile::EncodePassword(const QString &scrambled)
{
    if (storesUnchanged(scrambled))
        return scrambled;
    return HexPasswordMarker + QString::fromLatin1(scrambled.toLatin1().toHex().toUpper());
}

QString TKxSettingsFile::DecodePassword(const QString &stored)
{
    if (!stored.startsWith(HexPasswordMarker))
        return stored;
    const QString hex = stored.mid(HexPasswordMarker.size());
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    // Only well-formed hexadecimal is ours; anything else is an old value that looks alike.
    if (hex.size() % 2 != 0 || bytes.toHex().toUpper() != hex.toLatin1().toUpper())
        return stored;
    return QString::fromLatin1(bytes);
}

QString TKxSettingsFile::ReadPassword(const QString &section) const
{
    return DecodePassword(m_settings.readString(section, Pass, QString()));
}

void TKxSettingsFile::WritePassword(const QString &section, const QString &value)
{
    m_settings.writeString(section, Pass, EncodePassword(value));
}

bool TKxSettingsFile::IsProtected(const QString &name) const
{
    return !ReadPassword(desktopSection(name)).isEmpty();
}

void TKxSettingsFile::SetLastDesktop(const QString &name)
{
    WriteValue(App, LastUser, name);
}

void TKxSettingsFile::SetMultiDisplay(bool value)
{
    if (value == m_multiDisplay)
        return;
    m_multiDisplay = value;
    WriteValue(App, SettingsKeys::MultiDisplay, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TKxSettingsFile::RefreshFactoryDefaults()
{
    CopySection(m_defaults, FactorySection, m_settings, FactorySection, true);
}

namespace {

// One pair of double quotation marks around a whole value is taken off when notes are read.
bool isQuoted(const QString &value)
{
    return value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'));
}

// Notes the store would change (it trims values) or that would lose quotation marks of their own.
bool needsQuotes(const QString &encoded)
{
    return encoded.trimmed() != encoded || isQuoted(encoded);
}

} // namespace

QString TKxSettingsFile::EncodeNotes(const QString &notes)
{
    QString out;
    out.reserve(notes.size());
    for (qsizetype i = 0; i < notes.size(); ++i) {
        const QChar c = notes.at(i);
        if (c == QLatin1Char('\\')) {
            out += QLatin1String("\\\\");
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < notes.size() && notes.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\\n");
        } else {
            out += c;
        }
    }
    if (needsQuotes(out))
        out = QLatin1Char('"') + out + QLatin1Char('"');
    return out;
}

QString TKxSettingsFile::DecodeNotes(const QString &value)
{
    const QString stored = isQuoted(value) ? value.mid(1, value.size() - 2) : value;
    QString out;
    out.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QChar c = stored.at(i);
        if (c == QLatin1Char('\\') && i + 1 < stored.size()) {
            const QChar next = stored.at(i + 1);
            if (next == QLatin1Char('n')) {
                out += QLatin1Char('\n');
                ++i;
                continue;
            }
            if (next == QLatin1Char('\\')) {
                out += QLatin1Char('\\');
                ++i;
                continue;
            }
        }
        // Any other backslash (older notes written by hand) stays as it is.
        out += c;
    }
    return out;
}

bool TKxSettingsFile::startUp()
{
    bool keepRunning = true;
    if (CheckApplication(m_settings) == -1)
        showMessage(QStringLiteral("Settings file may be corrupted"));

    m_multiDisplay = m_settings.readBool(App, SettingsKeys::MultiDisplay, false);

    switch (CheckApplication(m_defaults)) {
    case -1:
        showMessage(QStringLiteral("Default settings file is invalid.\nDownload a replacement from ") + SupportAddress);
        keepRunning = false;
        break;
    case 0:
        showMessage(QStringLiteral("Default settings file is missing:\nDownload a replacement from ") + SupportAddress);
        keepRunning = false;
        break;
    default:
        break;
    }

    if (CheckApplication(m_settings) == 0) {
        // First start: the settings file comes into being with "App" and the factory desktop;
        // "Current" stays absent, so every value comes from the factory default until set.
        // A folder that refuses the file is reported; the values still come from the defaults.
        try {
            CopySection(m_defaults, DefaultApp, m_settings, DefaultApp, true);
            RefreshFactoryDefaults();
        } catch (const CorvaneError &e) {
            showMessage(e.message());
        }
    }

    DesktopNames();
    return keepRunning;
}

bool SettingsTerminateRequested()
{
    return terminateRequested;
}

void CreateSettingsFile(SettingsMessageSink sink)
{
    if (SettingsFile)
        return;
    terminateRequested = false;
    // Installed, the user's folders may not be there yet; one that cannot be made shows up as
    // the settings file's own write error, which names the file.
    AppPaths::makeUserFolders();
    try {
        settingsHolder() = std::make_unique<TKxSettingsFile>(AppPaths::settingsFilePath(),
                                                             AppPaths::defaultSettingsFilePath(), sink);
    } catch (const std::bad_alloc &) {
        const QString message = QStringLiteral("Could not create ini file");
        sink ? sink(message) : DlgMessage(message);
        requestTerminate();
        return;
    }
    SettingsFile = settingsHolder().get();
    if (!SettingsFile->startUp())
        requestTerminate();
}

void CloseSettingsFile()
{
    if (!SettingsFile)
        return;
    runGuarded([] { SettingsFile->SaveAllWindows(); });
    runGuarded([] { SettingsFile->WriteValue(App, Exe, AppPaths::executableFileName()); });
    SettingsFile = nullptr;
    settingsHolder().reset();
}
