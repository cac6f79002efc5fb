#include "CaptureList.h"

#include "Errors.h"
#include "TextViews.h"

#include <QMetaObject>

#include <algorithm>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <type_traits>

using TextViews::characterAt;
using TextViews::Utf8View;
using TextViews::withCharacters;

namespace {

const char *const ColumnCaptions[CaptureList::ColumnCount] = {"Item", "Camera", "Reader", "Generator", "Comment"};

// More separate ranges than this in one deletion are removed in a single pass (views are reset)
// instead of one removal per range, each of which moves the rest of the list.
constexpr int MaxRangesRemovedOneByOne = 16;

inline char16_t foldAsciiLetter(char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

inline int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

} // namespace

template <int Capacity>
bool CaptureList::InlineText<Capacity>::tryAssign(QAnyStringView text)
{
    if (text.size() > Capacity)
        return false;
    const bool fits = text.visit([&](auto view) {
        using View = decltype(view);
        if constexpr (std::is_same_v<View, QLatin1String>) {
            if (view.size())
                std::memcpy(bytes, view.data(), static_cast<size_t>(view.size()));
            return true;
        } else if constexpr (std::is_same_v<View, Utf8View>) {
            for (qsizetype i = 0; i < view.size(); ++i) {
                const char c = view.data()[i];
                if (static_cast<uchar>(c) >= 0x80)
                    return false;
                bytes[i] = c;
            }
            return true;
        } else {
            for (qsizetype i = 0; i < view.size(); ++i) {
                const char16_t c = view[i].unicode();
                if (c > 0xFF)
                    return false;
                bytes[i] = static_cast<char>(c);
            }
            return true;
        }
    });
    size = fits ? static_cast<quint8>(text.size()) : 0;
    return fits;
}

CaptureList::CaptureList(QObject *parent) : QAbstractTableModel(parent) {}

CaptureList::~CaptureList() = default;

int CaptureList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_announced;
}

int CaptureList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CaptureList::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_announced)
        return QVariant();
    return text(index.row(), index.column());
}

QVariant CaptureList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(ColumnCaptions[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags CaptureList::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool CaptureList::removeRows(int row, int rowCountToRemove, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || rowCountToRemove <= 0 || row + rowCountToRemove > count())
        return false;
    beginChange();
    if (m_observer) {
        QList<int> rows;
        for (int r = row; r < row + rowCountToRemove; ++r)
            rows.append(r);
        m_observer->rowsDeleted(rows);
        changesDone();
    }
    UndoStep step;
    if (m_undoEnabled) {
        step.kind = UndoStep::Kind::Delete;
        takeRows(step, {{row, row + rowCountToRemove - 1}});
    }
    ++m_changes;
    forgetHighestItem();
    beginRemoveRows(QModelIndex(), row, row + rowCountToRemove - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + rowCountToRemove);
    m_announced = count();
    endRemoveRows();
    if (m_undoEnabled)
        pushUndo(std::move(step));
    return true;
}

void CaptureList::sort(int column, Qt::SortOrder)
{
    sortByColumn(column);
}

QAnyStringView CaptureList::textView(int row, int column) const
{
    const Row &r = m_rows[static_cast<size_t>(row)];
    if (column == CommentColumn)
        return r.comment;
    if (r.spilled)
        return r.spilled[column];
    switch (column) {
    case ItemColumn:
        return r.item.view();
    case CameraColumn:
        return r.camera.view();
    case ReaderColumn:
        return r.reader.view();
    case GeneratorColumn:
        return r.generator.view();
    default:
        return QAnyStringView();
    }
}

QString CaptureList::text(int row, int column) const
{
    if (row < 0 || row >= count() || column < 0 || column >= ColumnCount)
        return QString();
    if (column == CommentColumn)
        return m_rows[static_cast<size_t>(row)].comment;
    return textView(row, column).toString();
}

CaptureList::RowTexts CaptureList::rowTexts(int row) const
{
    return RowTexts{text(row, ItemColumn), text(row, CameraColumn), text(row, ReaderColumn),
                    text(row, GeneratorColumn), text(row, CommentColumn)};
}

CaptureList::GpoEvent CaptureList::addGpoEvent(const QString &reader, const QString &generator, const QString &camera,
                                               bool gpo8Option)
{
    const quint32 mask = parseCameraState(camera);
    if (gpo8Option && (mask & 0x80u))
        return GpoEvent::Gpo8Trigger;
    appendEvent(reader, generator, camera);
    return GpoEvent::Added;
}

int CaptureList::appendEvent(QAnyStringView reader, QAnyStringView generator, QAnyStringView camera)
{
    parseCameraState(camera);
    const qint64 number = nextItemNumber();
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%.4lld", static_cast<long long>(number));
    Row row;
    storeRow(row, QLatin1String(digits, length), camera, reader, generator);
    pushRow(std::move(row));
    m_highestItem = number;
    return count() - 1;
}

void CaptureList::appendRow(QAnyStringView item, QAnyStringView camera, QAnyStringView reader,
                            QAnyStringView generator, const QString &comment)
{
    Row row;
    storeRow(row, item, camera, reader, generator);
    row.comment = comment;
    if (m_highestItemKnown) {
        if (const std::optional<qint64> number = itemNumber(item); number && *number > m_highestItem)
            m_highestItem = *number;
    }
    pushRow(std::move(row));
}

qint64 CaptureList::nextItemNumber() const
{
    if (!m_highestItemKnown) {
        qint64 highest = 0;
        const auto look = [&highest](const Row &row) {
            if (const std::optional<qint64> number = itemNumber(itemOf(row)); number && *number > highest)
                highest = *number;
        };
        for (const Row &row : m_rows)
            look(row);
        // Rows Undo can put back keep their numbers: a new row must not take one of them.
        for (const UndoStep &step : m_undo) {
            for (const Row &row : step.rows)
                look(row);
        }
        m_highestItem = highest;
        m_highestItemKnown = true;
    }
    return m_highestItem + 1;
}

std::optional<qint64> CaptureList::itemNumber(QAnyStringView text)
{
    constexpr qsizetype MaxDigits = 18;
    if (text.isEmpty() || text.size() > MaxDigits)
        return std::nullopt;
    return withCharacters(text, [](auto view) -> std::optional<qint64> {
        qint64 value = 0;
        for (qsizetype i = 0; i < view.size(); ++i) {
            const char16_t c = characterAt(view, i);
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * 10 + (c - u'0');
        }
        return value;
    });
}

QAnyStringView CaptureList::itemOf(const Row &row)
{
    return row.spilled ? QAnyStringView(row.spilled[ItemColumn]) : QAnyStringView(row.item.view());
}

void CaptureList::appendRow(const RowTexts &row)
{
    appendRow(row.item, row.camera, row.reader, row.generator, row.comment);
}

void CaptureList::storeRow(Row &row, QAnyStringView item, QAnyStringView camera, QAnyStringView reader,
                           QAnyStringView generator) const
{
    if (row.item.tryAssign(item) && row.camera.tryAssign(camera) && row.reader.tryAssign(reader)
        && row.generator.tryAssign(generator))
        return;
    row.item = {};
    row.camera = {};
    row.reader = {};
    row.generator = {};
    row.spilled.reset(new QString[4]{item.toString(), camera.toString(), reader.toString(), generator.toString()});
}

void CaptureList::pushRow(Row &&row)
{
    ++m_changes;
    if (m_batchDepth > 0 || m_deferInserts) {
        m_rows.push_back(std::move(row));
        if (m_observer)
            m_observer->rowAppended(*this, count() - 1);
        if (m_batchDepth == 0)
            scheduleAnnouncement();
        return;
    }
    announcePendingRows();
    const int at = count();
    // Stored first and told to the observer; views still see the old row count (rowCount()
    // gives the announced rows) until the insertion below.
    m_rows.push_back(std::move(row));
    if (m_observer) {
        m_observer->rowAppended(*this, at);
        changesDone();
    }
    beginInsertRows(QModelIndex(), at, at);
    m_announced = count();
    endInsertRows();
}

void CaptureList::setComment(int row, const QString &comment)
{
    if (row < 0 || row >= count())
        return;
    beginChange();
    QString before = comment;
    m_rows[static_cast<size_t>(row)].comment.swap(before);
    ++m_changes;
    if (m_observer) {
        m_observer->commentSet(*this, row);
        changesDone();
    }
    const QModelIndex at = index(row, CommentColumn);
    emit dataChanged(at, at, {Qt::DisplayRole});
    if (m_undoEnabled && before != comment) {
        UndoStep step;
        step.kind = UndoStep::Kind::Comment;
        step.row = row;
        step.comment = std::move(before);
        pushUndo(std::move(step));
    }
}

bool CaptureList::setLastComment(const QString &comment)
{
    if (isEmpty())
        return false;
    setComment(count() - 1, comment);
    return true;
}

void CaptureList::deleteRows(QList<int> rows)
{
    const int total = count();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [total](int r) { return r < 0 || r >= total; }), rows.end());
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    beginChange();
    if (m_observer) {
        m_observer->rowsDeleted(rows);
        changesDone();
    }

    // Contiguous ranges, last first, so earlier indexes stay valid while later ranges go.
    QList<std::pair<int, int>> ranges;
    for (qsizetype i = rows.size() - 1; i >= 0;) {
        const int last = rows[i];
        int first = last;
        while (i > 0 && rows[i - 1] == first - 1)
            first = rows[--i];
        --i;
        ranges.append({first, last});
    }
    UndoStep step;
    if (m_undoEnabled) {
        step.kind = UndoStep::Kind::Delete;
        takeRows(step, ranges);
    }
    ++m_changes;
    forgetHighestItem();

    if (ranges.size() <= MaxRangesRemovedOneByOne) {
        for (const auto &[first, last] : ranges) {
            beginRemoveRows(QModelIndex(), first, last);
            m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
            m_announced = count();
            endRemoveRows();
        }
        if (m_undoEnabled)
            pushUndo(std::move(step));
        return;
    }

    beginResetModel();
    std::vector<char> doomed(static_cast<size_t>(total), 0);
    for (int r : rows)
        doomed[static_cast<size_t>(r)] = 1;
    size_t kept = 0;
    for (size_t r = 0; r < m_rows.size(); ++r) {
        if (!doomed[r]) {
            if (kept != r)
                m_rows[kept] = std::move(m_rows[r]);
            ++kept;
        }
    }
    m_rows.resize(kept);
    m_announced = count();
    endResetModel();
    if (m_undoEnabled)
        pushUndo(std::move(step));
}

void CaptureList::clear()
{
    if (m_observer) {
        m_observer->cleared();
        changesDone();
    }
    ++m_changes;
    forgetHighestItem();
    UndoStep step;
    const bool undoable = m_undoEnabled && !m_rows.empty();
    if (undoable) {
        // The rows go to the step whole (no row is copied): a million rows cleared cost nothing more.
        step.kind = UndoStep::Kind::Delete;
        step.ranges.push_back({0, count()});
    }
    beginResetModel();
    step.rows.swap(m_rows);
    std::vector<Row>().swap(m_rows); // give the memory back, not only the rows
    m_announced = 0;
    endResetModel();
    if (undoable)
        pushUndo(std::move(step));
}

void CaptureList::replaceRows(CaptureList &source, int replaced)
{
    if (&source == this)
        return;
    source.announcePendingRows();
    beginChange();
    const int keepFrom = replaced < 0 || replaced > count() ? count() : replaced;
    // The rows replaced go to the undo step (moved, not copied); without undo they are freed.
    UndoStep step;
    step.kind = UndoStep::Kind::Load;
    std::vector<Row> rows;
    rows.swap(source.m_rows);
    const int loaded = static_cast<int>(rows.size());
    beginResetModel();
    if (keepFrom < count()) {
        rows.reserve(rows.size() + m_rows.size() - size_t(keepFrom));
        std::move(m_rows.begin() + keepFrom, m_rows.end(), std::back_inserter(rows));
        m_rows.erase(m_rows.begin() + keepFrom, m_rows.end());
    }
    step.rows.swap(m_rows);
    m_rows.swap(rows);
    m_announced = count();
    endResetModel();
    source.clear();
    ++m_changes;
    forgetHighestItem();
    if (m_observer) {
        m_observer->rowsReplaced(*this, loaded, keepFrom);
        changesDone();
    }
    if (m_undoEnabled) {
        step.loaded = loaded;
        pushUndo(std::move(step));
    }
}

void CaptureListObserver::rowsReplaced(const CaptureList &list, int loaded, int replaced)
{
    (void)loaded;
    (void)replaced;
    cleared();
    for (int row = 0; row < list.count(); ++row)
        rowAppended(list, row);
}

void CaptureList::sortByColumn(int column)
{
    if (column < 0 || column >= ColumnCount)
        return;
    const int columnBefore = m_sortColumn;
    m_sortColumn = column;
    beginChange();
    if (m_observer) {
        m_observer->sorted(column);
        changesDone();
    }
    const int n = count();
    if (n < 2)
        return;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return compareTexts(textView(a, column), textView(b, column)) < 0; });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (int from : order)
        sorted.push_back(std::move(m_rows[static_cast<size_t>(from)]));
    m_rows.swap(sorted);

    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> newRowOf(static_cast<size_t>(n));
        for (int to = 0; to < n; ++to)
            newRowOf[static_cast<size_t>(order[static_cast<size_t>(to)])] = to;
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex &old : before)
            after.append(index(newRowOf[static_cast<size_t>(old.row())], old.column()));
        changePersistentIndexList(before, after);
    }
    ++m_changes;
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    if (m_undoEnabled) {
        UndoStep step;
        step.kind = UndoStep::Kind::Sort;
        step.order = std::move(order);
        step.column = columnBefore;
        pushUndo(std::move(step));
    }
}

CaptureList::AppendBatch::AppendBatch(CaptureList &list) : m_list(list)
{
    ++m_list.m_batchDepth;
}

CaptureList::AppendBatch::~AppendBatch()
{
    if (--m_list.m_batchDepth == 0) {
        m_list.changesDone();
        m_list.announcePendingRows();
    }
}

void CaptureList::changesDone()
{
    if (m_observer && m_batchDepth == 0)
        m_observer->changesDone();
}

void CaptureList::setDeferredInserts(bool on)
{
    m_deferInserts = on;
    if (!on)
        announcePendingRows();
}

void CaptureList::announcePendingRows()
{
    if (m_announced >= count())
        return;
    beginInsertRows(QModelIndex(), m_announced, count() - 1);
    m_announced = count();
    endInsertRows();
}

void CaptureList::beginChange()
{
    announcePendingRows();
}

void CaptureList::scheduleAnnouncement()
{
    if (m_announcementQueued)
        return;
    m_announcementQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_announcementQueued = false;
            if (m_batchDepth == 0) {
                changesDone();
                announcePendingRows();
            }
        },
        Qt::QueuedConnection);
}

QString CaptureList::formatItemNumber(qint64 number)
{
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%.4lld", static_cast<long long>(number));
    return QString::fromLatin1(digits, length);
}

bool CaptureList::tryParseCameraState(QAnyStringView text, quint32 *mask)
{
    if (text.isEmpty())
        return false;
    return withCharacters(text, [mask](auto view) {
        quint64 value = 0;
        for (qsizetype i = 0; i < view.size(); ++i) {
            const int digit = hexDigit(characterAt(view, i));
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<quint64>(digit);
            if (value > 0xFFFFFFFFu)
                return false;
        }
        if (mask)
            *mask = static_cast<quint32>(value);
        return true;
    });
}

quint32 CaptureList::parseCameraState(QAnyStringView text)
{
    quint32 mask = 0;
    if (!tryParseCameraState(text, &mask))
        throw CorvaneError(QStringLiteral("'$%1' is not a valid integer value").arg(text.toString()));
    return mask;
}

int CaptureList::compareTexts(QAnyStringView a, QAnyStringView b)
{
    return withCharacters(a, [&](auto left) {
        return withCharacters(b, [&](auto right) {
            const qsizetype common = std::min(left.size(), right.size());
            for (qsizetype i = 0; i < common; ++i) {
                const int l = foldAsciiLetter(characterAt(left, i));
                const int r = foldAsciiLetter(characterAt(right, i));
                if (l != r)
                    return l - r;
            }
            return static_cast<int>(left.size() - right.size());
        });
    });
}

QString CaptureList::selectionCaption(const QList<int> &selectedRows)
{
    if (selectedRows.isEmpty())
        return QStringLiteral("invalid");
    const int first = *std::min_element(selectedRows.begin(), selectedRows.end());
    return QStringLiteral("M%1C%2").arg(first).arg(selectedRows.size());
}

size_t CaptureList::storedRowSize()
{
    return sizeof(Row);
}
