#include "AnchorLayout.h"

#include <QWidget>
#include <QWidgetItem>

#include <algorithm>

AnchorLayout::AnchorLayout(QSize designSize, QWidget *parent) : QLayout(parent), m_designSize(designSize)
{
    setContentsMargins(0, 0, 0, 0);
}

AnchorLayout::~AnchorLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void AnchorLayout::addWidget(QWidget *widget, const QRect &designed, Anchors anchors)
{
    addChildWidget(widget);
    m_entries.append({new QWidgetItem(widget), designed, anchors});
    invalidate();
}

QRect AnchorLayout::place(const QRect &designed, Anchors anchors, QSize designSize, QSize size)
{
    const int dx = size.width() - designSize.width();
    const int dy = size.height() - designSize.height();
    QRect r = designed;
    if (anchors.testFlag(Right)) {
        if (anchors.testFlag(Left))
            r.setWidth(std::max(0, r.width() + dx));
        else
            r.translate(dx, 0);
    }
    if (anchors.testFlag(Bottom)) {
        if (anchors.testFlag(Top))
            r.setHeight(std::max(0, r.height() + dy));
        else
            r.translate(0, dy);
    }
    return r;
}

void AnchorLayout::addItem(QLayoutItem *item)
{
    // Items without a designed place stay where the designed rectangle (0,0 sized) puts them.
    m_entries.append({item, QRect(), Left | Top});
}

int AnchorLayout::count() const
{
    return static_cast<int>(m_entries.size());
}

QLayoutItem *AnchorLayout::itemAt(int index) const
{
    return index >= 0 && index < m_entries.size() ? m_entries[index].item : nullptr;
}

QLayoutItem *AnchorLayout::takeAt(int index)
{
    if (index < 0 || index >= m_entries.size())
        return nullptr;
    return m_entries.takeAt(index).item;
}

void AnchorLayout::setScale(double scale)
{
    m_scale = scale;
    invalidate();
}

QRect AnchorLayout::scaled(const QRect &designed) const
{
    if (m_scale == 1.0)
        return designed;
    const int left = qRound(designed.x() * m_scale);
    const int top = qRound(designed.y() * m_scale);
    return QRect(left, top, qRound((designed.x() + designed.width()) * m_scale) - left,
                 qRound((designed.y() + designed.height()) * m_scale) - top);
}

QSize AnchorLayout::sizeHint() const
{
    return scaledDesignSize();
}

QSize AnchorLayout::minimumSize() const
{
    return QSize(0, 0);
}

void AnchorLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    for (const Entry &entry : std::as_const(m_entries))
        entry.item->setGeometry(
            place(scaled(entry.designed), entry.anchors, scaledDesignSize(), rect.size()).translated(rect.topLeft()));
}
