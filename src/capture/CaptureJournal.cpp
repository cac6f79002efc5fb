#include "CaptureJournal.h"

#include "Clock.h"
#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <type_traits>

namespace {

const QByteArray Magic = "CORVANE-JOURNAL";
const QByteArray Version = "2";
// Journals of the version before undo: the same records but L and U.
const QByteArray FirstVersion = "1";

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
            // The texts of device rows are plain ASCII with nothing to escape: one append.
            const bool plain = std::all_of(view.begin(), view.end(), [](char c) {
                const auto byte = static_cast<unsigned char>(c);
                return byte < 0x80 && c != '\\' && c != '\t' && c != '\n' && c != '\r';
            });
            if (plain) {
                out.append(view.data(), view.size());
                return;
            }
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

// CRC-16/X-25 (qChecksum's ISO 3309), four bytes at a time from four tables ("slicing by 4"):
// millions of records are summed when a list is journaled whole or a journal is read back.
// Table k gives the sum of a byte followed by k zero bytes; the 16-bit sum so far is folded into
// the first two bytes of each group of four.
using CrcTables = std::array<std::array<quint16, 256>, 4>;

constexpr CrcTables crcTables()
{
    CrcTables tables{};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned crc = n;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
        tables[0][n] = static_cast<quint16>(crc);
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (unsigned n = 0; n < 256; ++n) {
            const unsigned before = tables[k - 1][n];
            tables[k][n] = static_cast<quint16>((before >> 8) ^ tables[0][before & 0xFF]);
        }
    }
    return tables;
}
constexpr CrcTables Crc = crcTables();

quint16 crc16(QByteArrayView bytes)
{
    unsigned crc = 0xFFFF;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const unsigned char *const end = p + bytes.size();
    for (; end - p >= 4; p += 4) {
        crc ^= unsigned(p[0]) | unsigned(p[1]) << 8;
        crc = Crc[3][crc & 0xFF] ^ Crc[2][crc >> 8] ^ Crc[1][p[2]] ^ Crc[0][p[3]];
    }
    for (; p < end; ++p)
        crc = (crc >> 8) ^ Crc[0][(crc ^ *p) & 0xFF];
    return static_cast<quint16>(~crc);
}

void appendChecksum(QByteArray &out, QByteArrayView body)
{
    static const char digits[] = "0123456789ABCDEF";
    const quint16 sum = crc16(body);
    const char text[4] = {digits[(sum >> 12) & 15], digits[(sum >> 8) & 15], digits[(sum >> 4) & 15], digits[sum & 15]};
    out.append(text, 4);
}

QByteArray checksum(QByteArrayView body)
{
    QByteArray out;
    appendChecksum(out, body);
    return out;
}

QByteArray line(const QList<QByteArray> &fields)
{
    QByteArray body = fields.join('\t');
    return body + '\t' + checksum(body) + '\n';
}

// A record's fields: views into the journal's bytes.
struct Fields {
    static constexpr int Most = 8; // the fields looked at; a record with more is never valid
    QByteArrayView at[Most];
    int count = 0; // how many the record has (may exceed Most)
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The fields of one record (without its line end) when its checksum holds.
bool parseRecord(QByteArrayView line, Fields *fields)
{
    const qsizetype tab = line.lastIndexOf('\t');
    if (tab < 0 || line.size() - tab - 1 != 4)
        return false;
    const QByteArrayView body = line.first(tab);
    int sum = 0;
    for (qsizetype i = tab + 1; i < line.size(); ++i) {
        const int digit = hexDigit(line[i]);
        if (digit < 0)
            return false;
        sum = sum * 16 + digit;
    }
    if (sum != crc16(body))
        return false;
    fields->count = 0;
    qsizetype start = 0;
    while (true) {
        const qsizetype next = body.indexOf('\t', start);
        const qsizetype end = next < 0 ? body.size() : next;
        if (fields->count < Fields::Most)
            fields->at[fields->count] = body.sliced(start, end - start);
        ++fields->count;
        if (next < 0)
            break;
        start = next + 1;
    }
    return true;
}

// A field's text without its escapes: the field itself when it has none, else unescaped into
// scratch. False for an escape that is not one of the four.
bool unescaped(QByteArrayView field, QByteArray &scratch, QByteArrayView *text)
{
    if (!field.contains('\\')) {
        *text = field;
        return true;
    }
    scratch.resize(0);
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\') {
            scratch += c;
            continue;
        }
        if (++i >= field.size())
            return false;
        switch (field[i]) {
        case '\\': scratch += '\\'; break;
        case 't': scratch += '\t'; break;
        case 'n': scratch += '\n'; break;
        case 'r': scratch += '\r'; break;
        default: return false;
        }
    }
    *text = scratch;
    return true;
}

// UTF-8 text as a view the capture list stores without decoding when it is plain ASCII.
QAnyStringView textView(QByteArrayView utf8)
{
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return QUtf8StringView(utf8.data(), utf8.size());
    }
    return QLatin1StringView(utf8.data(), utf8.size());
}

bool toInt(QByteArrayView text, int *value)
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
    list.clearUndo();
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

bool CaptureJournal::resume(CaptureList &list, qint64 size, int journaledRows)
{
    close();
    QString reason;
    if (!m_file.open(AppendFile::Start::Continue, &reason) || !m_file.truncate(size, &reason)) {
        m_file.close();
        return false;
    }
    m_list = &list;
    m_failed = false;
    m_pending.clear();
    m_disk.start(m_file.handle());
    list.setObserver(this);
    if (journaledRows >= 0 && journaledRows < list.count()) {
        for (int row = journaledRows; row < list.count(); ++row)
            rowAppended(list, row);
        changesDone();
    }
    return true;
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
    const qsizetype end = m_pending.size();
    m_pending += '\t';
    appendChecksum(m_pending, QByteArrayView(m_pending).sliced(start, end - start));
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

void CaptureJournal::rowsReplaced(const CaptureList &list, int loaded, int replaced)
{
    // Rows that followed the replaced ones are in the journal already, after them.
    const int kept = list.count() - loaded;
    if (kept > 0)
        record({QStringLiteral("L"), QString::number(loaded), QString::number(replaced)});
    else
        record({QStringLiteral("L"), QString::number(loaded)});
    for (int row = 0; row < loaded; ++row) {
        rowAppended(list, row);
        // A loaded file of a million rows would otherwise wait here whole, twice over while the
        // buffer grows. Written in parts, a crash part of the way leaves an L record with fewer
        // rows than it counts, which reads back as the list before the load.
        if (m_pending.size() >= LoadWriteBytes)
            writePending();
    }
}

void CaptureJournal::undone()
{
    record({QStringLiteral("U")});
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

QList<CaptureList::RowTexts> CaptureJournal::Recovery::rows() const
{
    QList<CaptureList::RowTexts> texts;
    if (!list)
        return texts;
    texts.reserve(list->count());
    for (int r = 0; r < list->count(); ++r)
        texts.append(list->rowTexts(r));
    return texts;
}

CaptureJournal::Recovery CaptureJournal::read(const QString &path, const ProgressFn &progress)
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
    const QByteArrayView all(data);
    // Everything after the last line end is a record cut short by a crash.
    const qsizetype wholeEnd = all.lastIndexOf('\n') + 1;
    const QByteArrayView tail = all.sliced(wholeEnd);
    result.cutRecord = !tail.isEmpty();

    // The complete lines, one at a time.
    qsizetype at = 0;
    const auto nextLine = [&](QByteArrayView *line) {
        if (at >= wholeEnd)
            return false;
        const qsizetype end = all.indexOf('\n', at);
        *line = all.sliced(at, end - at);
        at = end + 1;
        return true;
    };

    Fields fields;
    QByteArrayView line;
    if (!nextLine(&line) || !parseRecord(line, &fields) || fields.count < 1 || fields.at[0] != Magic) {
        if (wholeEnd == 0 && (tail.isEmpty() || Magic.startsWith(tail.first(std::min(tail.size(), Magic.size()))))) {
            // Cut before its header was complete: nothing was journaled yet.
            result.found = Found::Rows;
            return result;
        }
        result.problem = QStringLiteral("The journal is not a Corvane capture journal.");
        return result;
    }
    if (fields.count < 2 || (fields.at[1] != Version && fields.at[1] != FirstVersion)) {
        result.problem = QStringLiteral("The journal was written by another version of Corvane.");
        return result;
    }

    result.wholeSize = at; // the header
    auto list = std::make_shared<CaptureList>();
    list->setUndoEnabled(true);
    // The rows of an L record, read into a list of their own until the last has come.
    std::unique_ptr<CaptureList> loading;
    int loadRemaining = 0;
    int loadReplaces = -1; // every row
    int recordsBeforeLoad = 0;
    ProgressSteps steps(progress, data.size());
    QByteArray scratch[CaptureList::ColumnCount];
    qsizetype index = 0; // of the line, the header being 0
    bool bad = false;
    {
        // The rows go in as one batch; nobody watches this list.
        CaptureList::AppendBatch batch(*list);
        while (nextLine(&line)) {
            ++index;
            steps.at(at);
            bool ok = parseRecord(line, &fields) && fields.count >= 1;
            if (ok) {
                const QByteArrayView type = fields.at[0];
                if (type == "A" && fields.count == 6) {
                    QByteArrayView t[CaptureList::ColumnCount];
                    for (int k = 0; k < CaptureList::ColumnCount && ok; ++k)
                        ok = unescaped(fields.at[k + 1], scratch[k], &t[k]);
                    if (ok)
                        (loading ? *loading : *list)
                            .appendRow(textView(t[0]), textView(t[1]), textView(t[2]), textView(t[3]),
                                       t[4].isEmpty() ? QString() : QString::fromUtf8(t[4]));
                    if (ok && loading && --loadRemaining == 0) {
                        list->replaceRows(*loading, loadReplaces);
                        loading.reset();
                    }
                } else if (loading) {
                    ok = false; // the rows of a load are written together: nothing comes between
                } else if (type == "L" && (fields.count == 2 || fields.count == 3)) {
                    ok = toInt(fields.at[1], &loadRemaining);
                    loadReplaces = -1;
                    if (ok && fields.count == 3)
                        ok = toInt(fields.at[2], &loadReplaces) && loadReplaces <= list->count();
                    recordsBeforeLoad = result.records;
                    if (ok) {
                        loading = std::make_unique<CaptureList>();
                        if (loadRemaining == 0) {
                            list->replaceRows(*loading, loadReplaces);
                            loading.reset();
                        }
                    }
                } else if (type == "U" && fields.count == 1) {
                    ok = list->undo();
                } else if (type == "C" && fields.count == 3) {
                    int row = 0;
                    QByteArrayView comment;
                    ok = toInt(fields.at[1], &row) && row < list->count() && unescaped(fields.at[2], scratch[0], &comment);
                    if (ok)
                        list->setComment(row, QString::fromUtf8(comment));
                } else if (type == "D" && fields.count >= 2 && fields.count <= Fields::Most) {
                    QList<int> rows;
                    for (int k = 1; k < fields.count && ok; ++k) {
                        int row = 0;
                        ok = toInt(fields.at[k], &row) && row < list->count();
                        rows.append(row);
                    }
                    if (ok)
                        list->deleteRows(rows);
                } else if (type == "D" && fields.count > Fields::Most) {
                    // More rows than views kept: split this record again (deletions are rare).
                    QList<int> rows;
                    const QList<QByteArray> numbers = line.first(line.lastIndexOf('\t')).toByteArray().split('\t');
                    for (qsizetype k = 1; k < numbers.size() && ok; ++k) {
                        int row = 0;
                        ok = toInt(numbers.at(k), &row) && row < list->count();
                        rows.append(row);
                    }
                    if (ok)
                        list->deleteRows(rows);
                } else if (type == "X" && fields.count == 1) {
                    list->clear();
                } else if (type == "S" && fields.count == 2) {
                    int column = 0;
                    ok = toInt(fields.at[1], &column) && column < CaptureList::ColumnCount;
                    if (ok)
                        list->sortByColumn(column);
                } else {
                    ok = false;
                }
            }
            if (!ok) {
                bad = true;
                break;
            }
            ++result.records;
            // A load is whole with its last row: a journal cut inside it goes on from before it.
            if (!loading)
                result.wholeSize = at;
        }
    }
    if (loading) {
        // Cut by the crash inside the rows of a load (written in parts): the list as it was
        // before the load, as it was last shown.
        result.cutRecord = true;
        result.records = recordsBeforeLoad;
    }
    if (bad) {
        // A bad last line is a record cut by a crash (or a power cut's garbage); a bad record
        // with complete records after it means the journal is damaged.
        if (at < wholeEnd) {
            // The records before it still stand: their rows are given back, the rest counted (with
            // those of a load it cut short).
            const qsizetype records = std::count(data.constData(), data.constData() + wholeEnd, '\n') - 1;
            result.unreadRecords = static_cast<int>(records - result.records);
            const QString unread = result.unreadRecords == 1 ? QStringLiteral("1 record")
                                                             : QStringLiteral("%1 records").arg(result.unreadRecords);
            result.problem = QStringLiteral("The journal is damaged at record %1: %2 could not be read.")
                                 .arg(index + 1)
                                 .arg(unread);
            if (list->isEmpty())
                return result;
        } else {
            result.cutRecord = true;
        }
    }
    if (progress)
        progress(data.size(), data.size());
    result.found = Found::Rows;
    result.list = std::move(list);
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
