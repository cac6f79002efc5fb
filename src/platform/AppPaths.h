#pragma once

#include <QString>

// The program's folder and the files it keeps beside its executable (settings, default
// settings, midiio.ini, manuals, sample capture file). By default the folder and name of the
// running executable; tests point it at a temporary folder.
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

    static QString settingsFilePath() { return withExecutableSuffix(QStringLiteral(".ini")); }
    static QString defaultSettingsFilePath() { return withExecutableSuffix(QStringLiteral(".def")); }

    // Overrides for tests and tools; an empty text restores the default.
    static void setProgramFolder(const QString &folder);
    static void setExecutableFileName(const QString &fileName);
};
