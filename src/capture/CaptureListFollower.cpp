#include "CaptureListFollower.h"

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>

namespace {

// Paints the cells as the view would, and the mark on the cells of the last row.
class MarkedRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QAbstractItemModel *model = index.model();
        const bool marked = model && index.row() == model->rowCount(index.parent()) - 1;
        if (marked && !(option.state & QStyle::State_Selected))
            painter->fillRect(option.rect, CaptureListFollower::MarkBackground);
        QStyledItemDelegate::paint(painter, option, index);
        if (!marked)
            return;
        // A frame around the whole row: top and bottom on every cell, the ends on the first and
        // last column.
        const QRect cell = option.rect;
        const int w = CaptureListFollower::MarkFrameWidth;
        const QColor frame = CaptureListFollower::MarkFrame;
        painter->fillRect(QRect(cell.left(), cell.top(), cell.width(), w), frame);
        painter->fillRect(QRect(cell.left(), cell.bottom() - w + 1, cell.width(), w), frame);
        if (index.column() == 0)
            painter->fillRect(QRect(cell.left(), cell.top(), w, cell.height()), frame);
        if (index.column() == model->columnCount(index.parent()) - 1)
            painter->fillRect(QRect(cell.right() - w + 1, cell.top(), w, cell.height()), frame);
    }
};

} // namespace

CaptureListFollower::CaptureListFollower(QTableView *view) : QObject(view), m_view(view)
{
    setObjectName(QStringLiteral("CaptureListFollower"));
    view->setItemDelegate(new MarkedRowDelegate(view));

    QScrollBar *bar = view->verticalScrollBar();
    // Every move of the view, by the operator or by the view itself, says whether it is at the
    // end now. Rows added below leave the value as it is: the view was at its end before them.
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { m_following = value >= bar->maximum(); });
    // The range grows as rows come and as the view's layout catches up with them.
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_following && bar->value() != maximum)
            bar->setValue(maximum);
    });

    QAbstractItemModel *model = view->model();
    if (!model)
        return;
    connect(model, &QAbstractItemModel::rowsInserted, this, &CaptureListFollower::follow);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &CaptureListFollower::follow);
    connect(model, &QAbstractItemModel::modelReset, this, &CaptureListFollower::follow);
    connect(model, &QAbstractItemModel::layoutChanged, this, &CaptureListFollower::follow);
}

int CaptureListFollower::markedRow() const
{
    const QAbstractItemModel *model = m_view->model();
    return model ? model->rowCount() - 1 : -1;
}

void CaptureListFollower::follow()
{
    // The mark moves with the last row: the row that had it is painted again as well.
    m_view->viewport()->update();
    if (m_following)
        m_view->scrollToBottom();
}

bool CaptureListFollower::selectRowAt(const QPoint &pos)
{
    const QModelIndex index = m_view->indexAt(pos);
    if (!index.isValid())
        return false;
    m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return true;
}
