#pragma once

#include <QString>

// Where the program's files are. By default the folder and name of the running executable; tests
// point it at a temporary folder.
//
// Portable: when the program's folder is writable and holds the default settings file
// ("corvane.def"), every file stays beside the program. Installed (any other folder, such as a
// read-only /usr/bin): the settings file and "midiio.ini" go to $XDG_CONFIG_HOME/corvane, the
// capture journal and its moved-aside copies to $XDG_STATE_HOME/corvane, and the shipped files
// (default settings, manuals, sample capture file) are read from <prefix>/share/corvane, found
// relative to the executable so that an installed tree can be moved as a whole.
class AppPaths {
public:
    // The folder, without trailing separator.
    static QString programFolder();
    // The folder with a trailing separator, as stored in settings values.
    static QString programFolderWithSeparator();
    // The executable's file name with its extension, without folder ("corvane", "corvane.exe").
    static QString executableFileName();
    // A file of the program's folder.
    static QString besideProgram(const QString &fileName);
    // The executable's path with its extension replaced by suffix (".ini", ".def", ".journal").
    static QString withExecutableSuffix(const QString &suffix);

    // True when everything is kept beside the program (see above).
    static bool isPortable();
    // The folder of the user's settings: the program's folder, or $XDG_CONFIG_HOME/corvane.
    static QString configFolder();
    // The folder of the capture journal: the program's folder, or $XDG_STATE_HOME/corvane.
    static QString stateFolder();
    // Where the installed tree keeps its shipped files: <prefix>/share/corvane beside <prefix>/bin.
    static QString dataFolder();
    // A shipped file: beside the program when portable; installed, from the data folder, or
    // beside the program when only that folder has it (a flat installation such as /opt/corvane).
    static QString shippedFile(const QString &fileName);
    // The folder in which file dialogs without a remembered folder start: the program's folder
    // when portable, else the user's home folder.
    static QString userFilesFolder();
    // Makes the user's folders (installed only; the portable folder is there). False, with the
    // system's reason, when one cannot be made.
    static bool makeUserFolders(QString *reason = nullptr);

    static QString settingsFilePath();
    static QString defaultSettingsFilePath();
    static QString midiIoFilePath();
    static QString journalFilePath();

    // Overrides for tests and tools; an empty text restores the default.
    static void setProgramFolder(const QString &folder);
    static void setExecutableFileName(const QString &fileName);

private:
    // The executable's name without a Windows ".exe": the base of its settings files' names.
    static QString baseName();
};
