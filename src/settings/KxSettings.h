#pragma once

#include "IniStore.h"
#include "SettingsKeys.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;
class TKxForm;

// Texts the desktop operations and the settings form share: the caption of the password
// dialogs of a protected desktop, and a desktop's name as the messages quote it.
namespace DesktopTexts {
inline const QString Protected = QStringLiteral("Protected");
inline QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}
} // namespace DesktopTexts

// Shows one message to the operator. The running program shows the message dialog; tools write
// to standard error; tests collect the texts.
using SettingsMessageSink = std::function<void(const QString &message)>;

// The program-wide settings: the settings file (read and written) and the default settings file
// (only read) beside the executable. Values of the current desktop (section "Current") fall back
// to the factory-default desktop of the default settings file. Every read goes to the file and
// every write is in the file when the call returns.
//
// Its members live beside what they work on: the file and its values in KxSettings.cpp, the
// window placements in KxForm.cpp (with the window base they keep), the desktop operations in
// KxDesktops.cpp, and ShowDesktopSetup in KxSettingsForm.cpp (with the window it opens).
class TKxSettingsFile {
public:
    // What GetInteger gives for a per-window key that the current desktop lacks.
    static constexpr int NoValue = -65535;
    // What GetString reads as "absent"; a stored "INVALID" counts as absent too.
    static inline const QString Invalid = QStringLiteral("INVALID");

    // A sink left empty shows messages with the program's message dialog.
    TKxSettingsFile(const QString &settingsPath, const QString &defaultsPath, SettingsMessageSink sink = {});

    TKxSettingsFile(const TKxSettingsFile &) = delete;
    TKxSettingsFile &operator=(const TKxSettingsFile &) = delete;

    IniFile &settingsStore() { return m_settings; }
    IniFile &defaultStore() { return m_defaults; }

    // Value interface: keys of the current desktop.
    int GetInteger(const QString &key);
    bool GetBool(const QString &key);
    QString GetString(const QString &key);
    void SetInteger(const QString &key, int value);
    void SetBool(const QString &key, bool value);
    void SetString(const QString &key, const QString &value);
    QString ReadValue(const QString &section, const QString &key, const QString &defaultValue) const;
    void WriteValue(const QString &section, const QString &key, const QString &value);
    // ReadValue with the program's folder (with trailing separator) as the default.
    QString ReadFolder(const QString &section, const QString &key) const;

    // 0: the store's file does not exist; 1: its "App"/"Exe" names this program (letter case
    // ignored); -1: any other case.
    static int CheckApplication(const IniFile &store);
    // Copies the keys of a section that have a value, in file order; "Pass" only withPassword.
    // Keys the target has and the source lacks stay.
    static void CopySection(const IniFile &source, const QString &sourceSection, IniFile &target,
                            const QString &targetSection, bool withPassword);

    // Names of the desktop sections ("USER\" + name), in file order; refilled on each call.
    const QStringList &DesktopNames();
    // The same rule for any desktop file (an import file): every section whose name holds
    // "USER\" in any letter case, named by what follows it.
    static QStringList DesktopNamesOf(const IniFile &store);
    // Upper case for the ASCII letters only, as executable names are compared.
    static QString AsciiUpper(const QString &text);
    bool DesktopExists(const QString &name) const;
    // The section's "Pass": the scrambled password, empty when the desktop is not protected.
    QString ReadPassword(const QString &section) const;
    void WritePassword(const QString &section, const QString &value);
    // The stored form of a scrambled password: unchanged, unless the INI store would alter it.
    static QString EncodePassword(const QString &scrambled);
    static QString DecodePassword(const QString &stored);
    bool IsProtected(const QString &name) const;
    void SetLastDesktop(const QString &name);
    bool MultiDisplay() const { return m_multiDisplay; }
    void SetMultiDisplay(bool value);

    // Copies the factory-default desktop from the default settings file into the settings file.
    void RefreshFactoryDefaults();

    // Desktop operations. Owner owns the dialogs they show (none: the active window).
    // True when Name is not a desktop yet, or the user agrees to overwrite it.
    bool ConfirmOverwrite(QWidget *owner, const QString &name);
    // True when Name is not protected, or the right password was entered.
    bool CheckDesktopPassword(QWidget *owner, const QString &name, const QString &prompt, const QString &caption);
    // Asks a new password for an unprotected desktop; true when one was stored.
    bool ProtectDesktop(QWidget *owner, const QString &name, const QString &prompt);
    // Removes the password after checking it (an empty "Pass" stays); true when removed.
    bool UnprotectDesktop(QWidget *owner, const QString &name, const QString &prompt, const QString &caption);
    // Copies the desktop into "Current" (without its password) and re-applies every window.
    // No password is asked. False when there is no such desktop.
    bool ApplyDesktop(const QString &name);
    // Stores "Current", with every window's placement, as the desktop Name.
    void UpdateDesktop(QWidget *owner, const QString &name);
    // Asks a name and stores "Current" under it.
    void SaveNewDesktop(QWidget *owner);
    // Asks a new name for the desktop; merges into a desktop of that name. True when renamed.
    bool RenameDesktop(QWidget *owner, const QString &name);
    void DeleteDesktop(QWidget *owner, const QString &name);

    // Window placements of the settings-aware windows, in the current desktop.
    void SaveWindowPlacement(TKxForm *form);
    void RestoreWindowPlacement(TKxForm *form);
    void SaveAllWindows();
    void RestoreAllWindows();

    // Runs the Desktop Setup window modally; when it closes, keeps its placement and frees it.
    void ShowDesktopSetup();

    // Desktop notes may hold line breaks; an INI value is one line. Notes are stored with "\n"
    // for a line break and "\\" for a backslash, so a note survives any number of round trips.
    // The store trims values: notes with blanks at either end (or quoted themselves) are kept in
    // double quotation marks, which reading takes off again, as INI readers have always done.
    static QString EncodeNotes(const QString &notes);
    static QString DecodeNotes(const QString &stored);

    static QString desktopSection(const QString &name) { return SettingsKeys::DesktopPrefix + name; }

    // Start-up steps after the object exists: the corruption and default-file checks, the multi
    // display flag, the first-start copy. Returns false when the program must end.
    bool startUp();

    void showMessage(const QString &message) const;

private:
    friend class TKxForm;
    // leavingNormalState: the window is being minimized or maximized; its normal placement is
    // saved as if it were still in the normal state.
    void savePlacement(TKxForm *form, bool leavingNormalState);
    static bool isFormKey(const QString &key);
    void missingValue(const QString &key) const;

    IniFile m_settings;
    IniFile m_defaults;
    QStringList m_desktopNames;
    bool m_multiDisplay = false;
    SettingsMessageSink m_sink;
};

// The one settings object of the running program; null before CreateSettingsFile and after
// CloseSettingsFile.
extern TKxSettingsFile *SettingsFile;

// Opens the settings file beside the program (creating it from the default settings file at
// the first start) and makes it SettingsFile. When a check fails the message is shown, the
// start-up goes on, and SettingsTerminateRequested() tells the program entry to end instead of
// running its event loop. sink as for the constructor.
void CreateSettingsFile(SettingsMessageSink sink = {});
bool SettingsTerminateRequested();

// Saves every window's placement, stamps "Exe" in "App" with the executable's file name and
// frees SettingsFile.
void CloseSettingsFile();

// The web address named in the default-settings-file messages.
inline const QString SupportAddress = QStringLiteral("https://corvane.example.org/download");
