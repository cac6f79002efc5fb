#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The program's text files (.edl, .gpo, INI) are single-byte Latin-1 on every platform, each
// line ended by CR LF. Characters outside Latin-1 are written as '?'. Reading accepts CR LF and
// LF endings and a last line without an ending.
namespace Latin1Text {

inline constexpr char LineEnd[] = "\r\n";

QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);

// Splits file contents into lines without their endings. A final line end does not start an
// empty line; an empty input has no lines.
QStringList splitLines(const QByteArray &bytes);

// Joins lines, each followed by CR LF, and encodes them.
QByteArray joinLines(const QStringList &lines);

} // namespace Latin1Text
