#pragma once

#include "CameraTable.h"
#include "CaptureList.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <initializer_list>

// Small capture lists and camera tables for the capture tests.
namespace CaptureFixtures {

using Row = CaptureList::RowTexts;
using Rows = QList<Row>;

// A row as a device event makes it: the same timecode on both clocks.
inline Row eventRow(const QString &item, const QString &camera, const QString &timecode, const QString &comment = {})
{
    return Row{item, camera, timecode, timecode, comment};
}

inline void fill(CaptureList &list, const Rows &rows)
{
    for (const Row &row : rows)
        list.appendRow(row);
}

inline Rows rowsOf(const CaptureList &list)
{
    Rows rows;
    for (int r = 0; r < list.count(); ++r)
        rows.append(list.rowTexts(r));
    return rows;
}

inline QStringList column(const CaptureList &list, int column)
{
    QStringList texts;
    for (int r = 0; r < list.count(); ++r)
        texts.append(list.text(r, column));
    return texts;
}

// CAM1 .. CAM16, every edit type "V".
inline CameraTable standardCameras()
{
    CameraTable table;
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        table.setReelName(camera, QStringLiteral("CAM%1").arg(camera));
        table.setEditType(camera, QStringLiteral("V"));
    }
    return table;
}

// The checksum of a capture journal record: Qt's CRC-16 (ISO 3309) of its body in four upper-case
// hexadecimal digits.
inline QByteArray journalChecksum(const QByteArray &body)
{
    return QByteArray::number(qChecksum(body), 16).rightJustified(4, '0').toUpper();
}

// A capture journal record as the journal writes it: body, tab, checksum, line feed.
inline QByteArray journalRecord(const QByteArray &body)
{
    return body + '\t' + journalChecksum(body) + '\n';
}

} // namespace CaptureFixtures

inline char *toString(const CaptureList::RowTexts &row)
{
    const QString text = QStringLiteral("{%1|%2|%3|%4|%5}").arg(row.item, row.camera, row.reader, row.generator, row.comment);
    return qstrdup(text.toUtf8().constData());
}

Q_DECLARE_METATYPE(CaptureList::RowTexts)
Q_DECLARE_METATYPE(CaptureFixtures::Rows)
