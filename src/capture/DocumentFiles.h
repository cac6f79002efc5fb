#pragma once

#include <QByteArray>
#include <QString>

#include "Progress.h"

// What the EDL file and the capture file have in common: reading and writing a whole file, and
// the names the window shows and stores for a chosen file.
namespace DocumentFiles {

// Replaces the file with bytes as one step (SafeFile::replace): a failed write leaves the old file
// (or no file), never part of the new one; a device, FIFO or "-" (standard output) is written
// straight, and a FIFO nobody reads fails within seconds. Throws CorvaneError "Cannot write file
// <path>: <the system's reason>". progress is told of the bytes written. A replaced file that
// could not keep its owner (another user's) is told in warning, or without one shown through
// presentError.
void writeWhole(const QString &path, QByteArrayView bytes, const ProgressFn &progress = {}, QString *warning = nullptr);

// Throws CorvaneError "Cannot read file <path>: <reason>".
QByteArray readWhole(const QString &path);

// The folder of a file, absolute, with a trailing separator (the "edlpath"/"gpopath" values).
QString folderOf(const QString &filePath);

// The window caption for a file: its name without folder and extension.
QString captionFor(const QString &filePath);

// The question asked before an existing file is replaced: "<name> Exists Replace ?".
QString replaceQuestion(const QString &filePath);

// path with extension (".edl", ".gpo") added unless it already ends with it in any letter case.
QString withExtension(const QString &path, const QString &extension);

} // namespace DocumentFiles
