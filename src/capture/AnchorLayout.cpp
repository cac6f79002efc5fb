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

QSize AnchorLayout::sizeHint() const
{
    return m_designSize;
}

QSize AnchorLayout::minimumSize() const
{
    return QSize(0, 0);
}

void AnchorLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    for (const Entry &entry : std::as_const(m_entries))
        entry.item->setGeometry(place(entry.designed, entry.anchors, m_designSize, rect.size()).translated(rect.topLeft()));
}
