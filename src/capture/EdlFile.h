#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Naming and writing of .edl files: the EDL's lines, each ended by CR LF, in Latin-1.
namespace EdlFile {

inline const QString Extension = QStringLiteral(".edl");

// The proposed name: the file-name details, "_", the last digit of the year, month and day
// (two digits each), "-", hour and minutes, "_", seconds: show_81123-1430_05 for "show" on
// 2008-11-23 at 14:30:05.
QString proposedName(const QString &details, const QDateTime &moment);

// The user's documents folder (the home folder when the system names none).
QString documentsFolder();

// The folder an EDL goes to when it is saved without the dialog (GPO8 trigger): the "edlpath"
// folder when it is an absolute path to an existing folder, else documentsFolder (created when
// missing). Never the process's current folder. With a trailing separator.
QString autoSaveFolder(const QString &edlPath, const QString &documents = documentsFolder());

// The file an EDL goes to without the dialog: autoSaveFolder, the proposed name (with any '/' or
// '\' in the details made '_'), ".edl".
QString autoSavePath(const QString &details, const QString &edlPath, const QDateTime &moment,
                     const QString &documents = documentsFolder());

// The file's bytes: each line followed by CR LF, in Latin-1. A line break inside a line (a comment
// holding one) is written as a space, so that every line of the file is one line of the EDL.
QByteArray encode(const QStringList &lines);

// The file of one camera's EDL beside path: path without its ".edl" (in any letter case), "_", the
// reel, ".edl": show_81123-1430_05_CAM1.edl for show_81123-1430_05.edl and reel CAM1.
QString perCameraPath(const QString &path, const QString &reel);

// Writes the lines (encode); an existing file is replaced as one step. Throws CorvaneError.
void write(const QString &path, const QStringList &lines);
// Writes an EDL's bytes (EdlText) as they are, in the same way.
void writeText(const QString &path, const QByteArray &text);

} // namespace EdlFile
