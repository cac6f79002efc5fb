#include "CaptureListFollower.h"

#include <QTimer>

#include <QAbstractItemModel>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace {

// Paints the cells as the view would, and the mark on the cells of the marked row.
class MarkedRowDelegate : public QStyledItemDelegate {
public:
    MarkedRowDelegate(const CaptureListFollower *follower, QObject *parent)
        : QStyledItemDelegate(parent), m_follower(follower)
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QAbstractItemModel *model = index.model();
        const bool marked = model && index.row() == m_follower->markedRow();
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

private:
    const CaptureListFollower *m_follower;
};

// The first row of the view's selection, or -1.
int firstSelectedRow(const QTableView *view)
{
    const QItemSelectionModel *selection = view->selectionModel();
    if (!selection)
        return -1;
    int first = INT_MAX;
    for (const QItemSelectionRange &range : selection->selection())
        first = std::min(first, range.top());
    return first == INT_MAX ? -1 : first;
}

} // namespace

CaptureListFollower::CaptureListFollower(QTableView *view)
    : QObject(view), m_view(view), m_followControl(new QToolButton(view))
{
    setObjectName(QStringLiteral("CaptureListFollower"));
    view->setItemDelegate(new MarkedRowDelegate(this, view));

    m_followControl->setObjectName(QStringLiteral("followControl"));
    m_followControl->setText(QStringLiteral("Follow"));
    m_followControl->setToolTip(QStringLiteral("Show the newest rows as they come (End)"));
    m_followControl->setArrowType(Qt::DownArrow);
    m_followControl->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_followControl->setFocusPolicy(Qt::NoFocus);
    m_followControl->setCursor(Qt::ArrowCursor);
    m_followControl->hide();
    connect(m_followControl, &QToolButton::clicked, this, &CaptureListFollower::followNewest);

    QScrollBar *bar = view->verticalScrollBar();
    // Every move of the view, by the operator or by the view itself, says whether it is at the
    // end now. Rows added below leave the value as it is: the view was at its end before them.
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        m_following = value >= bar->maximum();
        update();
    });
    // The range grows as rows come and as the view's layout catches up with them.
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_following && !paused() && bar->value() != maximum)
            bar->setValue(maximum);
    });

    // The pointer's moves over the rows tell that the operator is at work there.
    m_pointerRest = new QTimer(this);
    m_pointerRest->setSingleShot(true);
    connect(m_pointerRest, &QTimer::timeout, this, [this] {
        m_pointerOver = false;
        update();
    });

    view->installEventFilter(this);
    m_viewport = view->viewport();
    view->viewport()->setMouseTracking(true);
    m_viewport->installEventFilter(this);

    QAbstractItemModel *model = view->model();
    if (!model)
        return;
    connect(model, &QAbstractItemModel::rowsInserted, this, &CaptureListFollower::follow);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &CaptureListFollower::follow);
    connect(model, &QAbstractItemModel::modelReset, this, &CaptureListFollower::follow);
    connect(model, &QAbstractItemModel::layoutChanged, this, &CaptureListFollower::follow);
    // A row chosen or let go moves the mark, and may pause or resume following.
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        m_view->viewport()->update();
        update();
    });
}

int CaptureListFollower::s_pointerRestMs = CaptureListFollower::PointerRestMs;

void CaptureListFollower::setPointerRestMs(int ms)
{
    s_pointerRestMs = ms;
}

bool CaptureListFollower::paused() const
{
    return m_pointerOver || m_dialogs > 0 || (m_view->hasFocus() && firstSelectedRow(m_view) >= 0);
}

int CaptureListFollower::markedRow() const
{
    const QAbstractItemModel *model = m_view->model();
    if (!model)
        return -1;
    if (m_view->hasFocus()) {
        const int chosen = firstSelectedRow(m_view);
        if (chosen >= 0 && chosen < model->rowCount())
            return chosen;
    }
    return model->rowCount() - 1;
}

void CaptureListFollower::follow()
{
    // The mark moves with the last row: the row that had it is painted again as well.
    m_view->viewport()->update();
    if (m_following && !paused())
        m_view->scrollToBottom();
    update();
}

void CaptureListFollower::update()
{
    if (m_following && !paused()) {
        QScrollBar *bar = m_view->verticalScrollBar();
        if (bar->value() != bar->maximum())
            bar->setValue(bar->maximum());
    }
    const bool show = !m_following || paused();
    if (show)
        placeFollowControl();
    m_followControl->setVisible(show);
}

void CaptureListFollower::placeFollowControl()
{
    // At the foot of the rows, on the right, clear of the scroll bars.
    m_followControl->adjustSize();
    const QRect rows = m_view->viewport()->geometry();
    const QSize size = m_followControl->sizeHint();
    const int margin = 4;
    m_followControl->setGeometry(rows.right() - size.width() - margin + 1, rows.bottom() - size.height() - margin + 1,
                                 size.width(), size.height());
    m_followControl->raise();
}

void CaptureListFollower::hold()
{
    ++m_dialogs;
    update();
}

void CaptureListFollower::release()
{
    m_dialogs = std::max(0, m_dialogs - 1);
    update();
}

void CaptureListFollower::followNewest()
{
    // The pointer may still be over the list: the operator asked for the newest rows all the same,
    // until it comes back in.
    m_pointerOver = false;
    m_pointerRest->stop();
    if (QItemSelectionModel *selection = m_view->selectionModel())
        selection->clear();
    m_following = true;
    m_view->scrollToBottom();
    m_view->viewport()->update();
    update();
}

bool CaptureListFollower::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view) {
        switch (event->type()) {
        case QEvent::Enter:
            m_pointerOver = true;
            m_pointerRest->start(s_pointerRestMs);
            update();
            break;
        case QEvent::Leave:
            m_pointerOver = false;
            m_pointerRest->stop();
            update();
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            m_view->viewport()->update();
            update();
            break;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_End
                && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier) {
                followNewest();
                return true;
            }
            break;
        default:
            break;
        }
    } else if (event->type() == QEvent::Resize && watched == m_viewport && m_followControl && m_followControl->isVisible()) {
        placeFollowControl();
    } else if (event->type() == QEvent::MouseMove && watched == m_viewport) {
        m_pointerRest->start(s_pointerRestMs);
        if (!m_pointerOver) {
            m_pointerOver = true;
            update();
        }
    }
    return QObject::eventFilter(watched, event);
}

bool CaptureListFollower::selectRowAt(const QPoint &pos)
{
    const QModelIndex index = m_view->indexAt(pos);
    if (!index.isValid())
        return false;
    m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return true;
}
