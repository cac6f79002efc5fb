// Undo of the changes made to a capture list: the steps kept, their bounds, and how each is
// taken back.

#include "CaptureList.h"

#include <algorithm>
#include <iterator>

namespace {

// More separate ranges than this are put back in a single pass (views are reset) instead of one
// insertion per range, each of which moves the rest of the list.
constexpr size_t MaxRangesInsertedOneByOne = 16;

} // namespace

qsizetype CaptureList::UndoStep::bytes() const
{
    // Only what the texts and counts decide: a journal replayed gives every step the same size,
    // so the same steps are dropped as in the run that wrote it.
    qsizetype total = qsizetype(sizeof(UndoStep)) + comment.size() * 2;
    total += qsizetype(rows.size() * sizeof(Row));
    for (const Row &taken : rows)
        total += taken.comment.size() * 2;
    total += qsizetype(ranges.size() * sizeof(ranges.front()) + order.size() * sizeof(int));
    return total;
}

void CaptureList::setUndoEnabled(bool on)
{
    m_undoEnabled = on;
    if (!on)
        clearUndo();
}

qsizetype CaptureList::undoBytes() const
{
    qsizetype total = 0;
    for (const UndoStep &step : m_undo)
        total += step.bytes();
    return total;
}

void CaptureList::clearUndo()
{
    if (m_undo.empty())
        return;
    m_undo.clear();
    forgetHighestItem();
    emit undoAvailable(false);
}

void CaptureList::pushUndo(UndoStep &&step)
{
    const bool had = !m_undo.empty();
    m_undo.push_back(std::move(step));
    const size_t steps = m_undo.size();
    if (m_undo.size() > size_t(MaxUndoSteps))
        m_undo.erase(m_undo.begin());
    qsizetype older = 0;
    for (size_t i = 0; i + 1 < m_undo.size(); ++i)
        older += m_undo[i].bytes();
    while (m_undo.size() > 1 && older > m_undoBudget) {
        older -= m_undo.front().bytes();
        m_undo.erase(m_undo.begin());
    }
    // Rows of a step dropped can no longer come back.
    if (m_undo.size() != steps)
        forgetHighestItem();
    if (!had)
        emit undoAvailable(true);
}

void CaptureList::takeRows(UndoStep &step, const QList<std::pair<int, int>> &descendingRanges)
{
    size_t taken = 0;
    for (const auto &[first, last] : descendingRanges)
        taken += size_t(last - first + 1);
    step.rows.reserve(taken);
    for (auto range = descendingRanges.crbegin(); range != descendingRanges.crend(); ++range) {
        step.ranges.push_back({range->first, range->second - range->first + 1});
        std::move(m_rows.begin() + range->first, m_rows.begin() + range->second + 1, std::back_inserter(step.rows));
    }
}

bool CaptureList::undo()
{
    if (m_undo.empty())
        return false;
    beginChange();
    UndoStep step = std::move(m_undo.back());
    m_undo.pop_back();
    if (m_observer) {
        m_observer->undone();
        changesDone();
    }
    ++m_changes;
    forgetHighestItem();
    switch (step.kind) {
    case UndoStep::Kind::Comment:
        if (step.row < count()) {
            m_rows[size_t(step.row)].comment = std::move(step.comment);
            const QModelIndex at = index(step.row, CommentColumn);
            emit dataChanged(at, at, {Qt::DisplayRole});
        }
        break;
    case UndoStep::Kind::Delete:
        undoDelete(step);
        break;
    case UndoStep::Kind::Sort:
        undoSort(step);
        break;
    case UndoStep::Kind::Load:
        undoLoad(step);
        break;
    }
    if (m_undo.empty())
        emit undoAvailable(false);
    return true;
}

void CaptureList::undoDelete(UndoStep &step)
{
    // Each range goes back where it was; ascending, so that every earlier range is back in place
    // when a later one is put back. Rows appended since the deletion are after all of them.
    if (step.ranges.size() <= MaxRangesInsertedOneByOne) {
        size_t from = 0;
        for (const auto &[first, rowCount] : step.ranges) {
            const int at = std::min(first, count());
            beginInsertRows(QModelIndex(), at, at + rowCount - 1);
            const auto begin = std::make_move_iterator(step.rows.begin() + qsizetype(from));
            m_rows.insert(m_rows.begin() + at, begin, begin + rowCount);
            m_announced = count();
            endInsertRows();
            from += size_t(rowCount);
        }
        return;
    }
    beginResetModel();
    std::vector<Row> merged;
    merged.reserve(m_rows.size() + step.rows.size());
    size_t kept = 0;
    size_t from = 0;
    for (const auto &[first, rowCount] : step.ranges) {
        while (merged.size() < size_t(first) && kept < m_rows.size())
            merged.push_back(std::move(m_rows[kept++]));
        for (int i = 0; i < rowCount; ++i)
            merged.push_back(std::move(step.rows[from++]));
    }
    while (kept < m_rows.size())
        merged.push_back(std::move(m_rows[kept++]));
    m_rows.swap(merged);
    m_announced = count();
    endResetModel();
}

void CaptureList::undoSort(const UndoStep &step)
{
    // The rows that were sorted are the first ones; rows appended since stay after them.
    const int n = std::min(int(step.order.size()), count());
    m_sortColumn = step.column;
    if (n != int(step.order.size()))
        return; // cannot happen: rows are only appended while a step is kept
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<Row> restored(static_cast<size_t>(n));
    for (int to = 0; to < n; ++to)
        restored[size_t(step.order[size_t(to)])] = std::move(m_rows[size_t(to)]);
    std::move(restored.begin(), restored.end(), m_rows.begin());
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex &old : before)
            after.append(old.row() < n ? index(step.order[size_t(old.row())], old.column()) : old);
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CaptureList::undoLoad(UndoStep &step)
{
    // The loaded rows go (they are still in their file); the rows they replaced come back in
    // front of the rows appended since the load.
    const int loaded = std::min(step.loaded, count());
    beginResetModel();
    std::vector<Row> rows = std::move(step.rows);
    rows.reserve(rows.size() + m_rows.size() - size_t(loaded));
    std::move(m_rows.begin() + loaded, m_rows.end(), std::back_inserter(rows));
    m_rows.swap(rows);
    m_announced = count();
    endResetModel();
}

void CaptureList::adoptRows(CaptureList &source)
{
    if (&source == this)
        return;
    source.announcePendingRows();
    beginChange();
    const int replaced = count();
    beginResetModel();
    m_rows.swap(source.m_rows);
    std::vector<Row>().swap(source.m_rows);
    m_announced = count();
    endResetModel();
    source.m_announced = 0;
    m_sortColumn = source.m_sortColumn;
    ++m_changes;
    if (m_observer) {
        m_observer->rowsReplaced(*this, count(), replaced);
        changesDone();
    }
    const bool had = !m_undo.empty();
    m_undo.swap(source.m_undo);
    source.m_undo.clear();
    if (!m_undoEnabled)
        m_undo.clear();
    forgetHighestItem();
    source.forgetHighestItem();
    if (had != !m_undo.empty())
        emit undoAvailable(!m_undo.empty());
}
