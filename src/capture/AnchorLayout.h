#pragma once

#include <QLayout>
#include <QList>
#include <QRect>
#include <QSize>

// Places widgets at their designed rectangles and keeps them attached to the sides of the
// container they are anchored to: anchored left and right, a widget grows with the container's
// width; anchored right only, it moves with the right side (and likewise top and bottom).
class AnchorLayout : public QLayout {
public:
    enum Anchor { Left = 1, Top = 2, Right = 4, Bottom = 8 };
    Q_DECLARE_FLAGS(Anchors, Anchor)

    // designSize: the container's size that the designed rectangles belong to.
    explicit AnchorLayout(QSize designSize, QWidget *parent = nullptr);
    ~AnchorLayout() override;

    void addWidget(QWidget *widget, const QRect &designed, Anchors anchors);

    // Every designed rectangle and the design size multiplied by scale (a larger font in use
    // takes a larger window); 1 as designed.
    void setScale(double scale);
    double scale() const { return m_scale; }
    QSize scaledDesignSize() const { return scaled(QRect(QPoint(), m_designSize)).size(); }
    // A designed rectangle at the layout's scale.
    QRect scaled(const QRect &designed) const;

    // The rectangle of a designed rectangle in a container of the given size.
    static QRect place(const QRect &designed, Anchors anchors, QSize designSize, QSize size);

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;

private:
    struct Entry {
        QLayoutItem *item;
        QRect designed;
        Anchors anchors;
    };
    QSize m_designSize;
    QList<Entry> m_entries;
    double m_scale = 1.0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(AnchorLayout::Anchors)
