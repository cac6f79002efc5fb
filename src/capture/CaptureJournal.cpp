#include "CaptureJournal.h"

#include "Clock.h"
#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <type_traits>

namespace {

const QByteArray Magic = "CORVANE-JOURNAL";
const QByteArray Version = "1";

void appendEscapedByte(QByteArray &out, char c)
{
    switch (c) {
    case '\\': out += "\\\\"; break;
    case '\t': out += "\\t"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    default: out += c; break;
    }
}

// Appends the text as escaped UTF-8 without making a copy of it first: a row is recorded on the
// way of every arriving event.
void appendEscaped(QByteArray &out, QAnyStringView text)
{
    text.visit([&out](auto view) {
        using View = decltype(view);
        if constexpr (std::is_same_v<View, QLatin1StringView>) {
            for (const char c : view) {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x80) {
                    appendEscapedByte(out, c);
                } else {
                    out += static_cast<char>(0xC0 | (byte >> 6));
                    out += static_cast<char>(0x80 | (byte & 0x3F));
                }
            }
        } else if constexpr (std::is_same_v<View, QUtf8StringView>) {
            for (const char c : view)
                appendEscapedByte(out, c);
        } else {
            for (const char c : view.toUtf8())
                appendEscapedByte(out, c);
        }
    });
}

QByteArray escape(const QString &text)
{
    QByteArray out;
    appendEscaped(out, text);
    return out;
}

bool unescape(const QByteArray &field, QString *text)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= field.size())
            return false;
        switch (field.at(i)) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return false;
        }
    }
    *text = QString::fromUtf8(out);
    return true;
}

QByteArray checksum(QByteArrayView body)
{
    return QByteArray::number(qChecksum(body), 16).rightJustified(4, '0').toUpper();
}

QByteArray line(const QList<QByteArray> &fields)
{
    QByteArray body = fields.join('\t');
    return body + '\t' + checksum(body) + '\n';
}

// One record's fields when its checksum holds.
bool parseLine(const QByteArray &text, QList<QByteArray> *fields)
{
    const qsizetype tab = text.lastIndexOf('\t');
    if (tab < 0)
        return false;
    const QByteArray body = text.left(tab);
    if (text.mid(tab + 1) != checksum(body))
        return false;
    *fields = body.split('\t');
    return true;
}

bool toInt(const QByteArray &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= 0;
}

} // namespace

CaptureJournal::CaptureJournal(QString path, QObject *parent) : QObject(parent), m_path(std::move(path)), m_file(m_path)
{
}

CaptureJournal::~CaptureJournal()
{
    close();
}

void CaptureJournal::start(CaptureList &list)
{
    close();
    QString reason;
    if (!m_file.open(AppendFile::Start::Empty, &reason))
        throw CorvaneError(QStringLiteral("Unable to write to %1 (%2)").arg(m_path, reason));
    m_list = &list;
    m_failed = false;
    m_pending = line({Magic, Version});
    for (int row = 0; row < list.count(); ++row)
        rowAppended(list, row);
    const bool written = m_file.append(m_pending, &reason);
    m_pending.clear();
    ++m_writes;
    m_disk.start(m_file.handle());
    m_disk.written();
    m_disk.syncNow();
    if (!written || m_disk.failure()) {
        // Nothing half-written stays behind as if it were a journal.
        if (written)
            reason = SafeFile::systemReason(m_disk.failure());
        m_disk.stop(false);
        m_file.close();
        QFile::remove(m_path);
        m_list = nullptr;
        throw CorvaneError(QStringLiteral("Unable to write to %1 (%2)").arg(m_path, reason));
    }
    list.setObserver(this);
}

void CaptureJournal::detach()
{
    if (m_list && m_list->observer() == this)
        m_list->setObserver(nullptr);
    m_list = nullptr;
}

void CaptureJournal::finish()
{
    detach();
    m_disk.stop(false);
    if (m_file.isOpen()) {
        m_file.close();
        QFile::remove(m_path);
    }
    m_pending.clear();
}

void CaptureJournal::close()
{
    detach();
    if (m_file.isOpen()) {
        writePending();
        m_disk.stop(true);
        m_file.close();
    }
}

void CaptureJournal::record(const QStringList &fields)
{
    QList<QByteArray> encoded;
    encoded.reserve(fields.size());
    for (const QString &f : fields)
        encoded.append(escape(f));
    m_pending += line(encoded);
}

void CaptureJournal::rowAppended(const CaptureList &list, int row)
{
    const qsizetype start = m_pending.size();
    m_pending += 'A';
    for (const int column : {CaptureList::ItemColumn, CaptureList::CameraColumn, CaptureList::ReaderColumn,
                             CaptureList::GeneratorColumn, CaptureList::CommentColumn}) {
        m_pending += '\t';
        appendEscaped(m_pending, list.textView(row, column));
    }
    const QByteArray sum = checksum(QByteArrayView(m_pending).sliced(start));
    m_pending += '\t';
    m_pending += sum;
    m_pending += '\n';
}

void CaptureJournal::commentSet(const CaptureList &list, int row)
{
    record({QStringLiteral("C"), QString::number(row), list.text(row, CaptureList::CommentColumn)});
}

void CaptureJournal::rowsDeleted(const QList<int> &rows)
{
    QStringList fields{QStringLiteral("D")};
    for (int r : rows)
        fields.append(QString::number(r));
    record(fields);
}

void CaptureJournal::cleared()
{
    record({QStringLiteral("X")});
}

void CaptureJournal::sorted(int column)
{
    record({QStringLiteral("S"), QString::number(column)});
}

void CaptureJournal::changesDone()
{
    writePending();
}

void CaptureJournal::writePending()
{
    if (m_pending.isEmpty() || !m_file.isOpen() || m_failed)
        return;
    // The bytes are with the operating system when append() returns; the disk sync follows.
    QString reason;
    const bool written = m_file.append(m_pending, &reason);
    ++m_writes;
    m_pending.clear();
    if (!written) {
        stopAfterFailure(reason);
        return;
    }
    if (const int error = m_disk.failure()) {
        stopAfterFailure(SafeFile::systemReason(error));
        return;
    }
    m_disk.written();
}

void CaptureJournal::stopAfterFailure(const QString &reason)
{
    // Called from inside a change of the list: nothing may be thrown here. The journal stops,
    // keeping the whole records it holds, and tells it afterwards.
    m_failed = true;
    if (!m_list)
        return;
    detach();
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            emit failed(QStringLiteral("Unable to write to %1 (%2). Capture rows are no longer "
                                       "journaled; save the list with Save GPO.")
                            .arg(m_path, reason));
        },
        Qt::QueuedConnection);
}

void CaptureJournal::sync()
{
    writePending();
    m_disk.syncNow();
}

CaptureJournal::Recovery CaptureJournal::read(const QString &path)
{
    Recovery result;
    QFile file(path);
    if (!file.exists())
        return result;
    result.found = Found::Damaged;
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = QStringLiteral("The journal cannot be read.");
        return result;
    }
    const QByteArray data = file.readAll();
    QList<QByteArray> lines = data.split('\n');
    // Everything after the last line end is a record cut short by a crash.
    const QByteArray tail = lines.takeLast();
    result.cutRecord = !tail.isEmpty();

    QList<QByteArray> fields;
    if (lines.isEmpty() || !parseLine(lines.first(), &fields) || fields.value(0) != Magic) {
        if (lines.isEmpty() && (tail.isEmpty() || Magic.startsWith(tail.left(Magic.size())))) {
            // Cut before its header was complete: nothing was journaled yet.
            result.found = Found::Rows;
            return result;
        }
        result.problem = QStringLiteral("The journal is not a Corvane capture journal.");
        return result;
    }
    if (fields.value(1) != Version) {
        result.problem = QStringLiteral("The journal was written by another version of Corvane.");
        return result;
    }

    CaptureList list;
    qsizetype firstBad = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        bool ok = parseLine(lines.at(i), &fields) && !fields.isEmpty();
        if (ok) {
            const QByteArray type = fields.first();
            if (type == "A" && fields.size() == 6) {
                QString t[5];
                for (int k = 0; k < 5 && ok; ++k)
                    ok = unescape(fields.at(k + 1), &t[k]);
                if (ok)
                    list.appendRow(CaptureList::RowTexts{t[0], t[1], t[2], t[3], t[4]});
            } else if (type == "C" && fields.size() == 3) {
                int row = 0;
                QString comment;
                ok = toInt(fields.at(1), &row) && row < list.count() && unescape(fields.at(2), &comment);
                if (ok)
                    list.setComment(row, comment);
            } else if (type == "D" && fields.size() >= 2) {
                QList<int> rows;
                for (qsizetype k = 1; k < fields.size() && ok; ++k) {
                    int row = 0;
                    ok = toInt(fields.at(k), &row) && row < list.count();
                    rows.append(row);
                }
                if (ok)
                    list.deleteRows(rows);
            } else if (type == "X" && fields.size() == 1) {
                list.clear();
            } else if (type == "S" && fields.size() == 2) {
                int column = 0;
                ok = toInt(fields.at(1), &column) && column < CaptureList::ColumnCount;
                if (ok)
                    list.sortByColumn(column);
            } else {
                ok = false;
            }
        }
        if (!ok) {
            firstBad = i;
            break;
        }
        ++result.records;
    }
    if (firstBad >= 0) {
        // A bad last line is a record cut by a crash (or a power cut's garbage); a bad record
        // with complete records after it means the journal is damaged.
        if (firstBad != lines.size() - 1) {
            result.problem = QStringLiteral("The journal is damaged at record %1.").arg(firstBad + 1);
            return result;
        }
        result.cutRecord = true;
    }
    result.found = Found::Rows;
    result.rows.reserve(list.count());
    for (int r = 0; r < list.count(); ++r)
        result.rows.append(list.rowTexts(r));
    return result;
}

QString CaptureJournal::moveAside(const QString &path)
{
    const QFileInfo info(path);
    const QString stamp = appClock().now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = info.dir().filePath(info.completeBaseName() + QLatin1Char('-') + stamp + QLatin1Char('.')
                                         + info.suffix());
    for (int n = 2; QFile::exists(target); ++n)
        target = info.dir().filePath(QStringLiteral("%1-%2-%3.%4").arg(info.completeBaseName(), stamp).arg(n).arg(info.suffix()));
    return QFile::rename(path, target) ? target : QString();
}
