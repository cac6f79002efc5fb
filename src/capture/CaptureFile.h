#pragma once

#include "CaptureList.h"
#include "Progress.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

// The capture file (.gpo): the capture list's rows in list order, one line per row ended by
// CR LF, in Latin-1, each line the five texts joined by single commas without quoting:
// item,camera,reader,generator,comment. The comment is the rest of the line and may itself hold
// commas. Reading takes any text: lines of another shape give rows with shifted or empty texts.
// CR LF, LF and a lone CR each end a line.
namespace CaptureFile {

inline const QString Extension = QStringLiteral(".gpo");
// The sample capture file kept beside the program ("loadtest").
inline const QString SampleFileName = QStringLiteral("edlf_8b23.gpo");

// The one writer and the one reader of a capture line; saving and loading a file, and
// corvane-cli's capture, go through them.
//
// Appends the line for one row to out, without its line end: Latin-1, a character outside it
// written as '?', a line break inside a text (which would split the row in two) as a space.
void FormatGpoLine(const CaptureList &list, int row, QByteArray &out);

// Takes the next field from rest (a line's Latin-1 bytes): the text before the first comma,
// with rest becoming the text after it, both trimmed of spaces and control characters at
// either end. Without a comma the field is empty and rest is only trimmed. Both stay views of
// the line's bytes.
void NextGpoField(QLatin1String &rest, QLatin1String &field);

// Appends the row of one line (its Latin-1 bytes, without the line end) as it is: not
// renumbered, camera state not checked. Four fields, then the rest as the comment; when the
// generator field is empty the rest becomes the generator timecode and the comment is empty.
void ParseGpoLine(CaptureList &list, QLatin1String line);

// The whole file for a list, and its rows appended to a list.
QByteArray encode(const CaptureList &list);
void decode(const QByteArray &bytes, CaptureList &list, const ProgressFn &progress = {});
// The lines of a file's bytes as decode reads them (CR LF, LF or a lone CR ends a line), and
// their number: the rows the bytes hold.
QStringList splitLines(const QByteArray &bytes);
int countLines(const QByteArray &bytes);
// The size of the bytes up to and with the last line end: what is left after it is a row cut short
// (a writer that stopped in the middle of it).
qsizetype wholeLinesSize(const QByteArray &bytes);

// Replaces the list by the file's rows. A missing file changes nothing and returns false. A file
// that cannot be read throws CorvaneError before the list is touched (one that fails part of the
// way throws with the rows read until then). The file is read in blocks of LoadBlockBytes, so it
// never waits whole in memory. progress is told of the bytes read into rows.
inline constexpr qint64 LoadBlockBytes = qint64(1) << 20;
bool LoadGpoFile(CaptureList &list, const QString &path, const ProgressFn &progress = {});

// Writes every row; an existing file is replaced as one step. Throws CorvaneError.
void SaveGpoFile(const CaptureList &list, const QString &path);

// The proposed name: the window caption, "_", year - 2000 and month in upper-case hexadecimal,
// the day as two digits: edlf_8B23 for "edlf" on 2008-11-23.
QString proposedName(const QString &caption, const QDate &date);

// The sample file beside the program.
QString sampleFilePath();

} // namespace CaptureFile
