#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>

class QTableView;

// Looks after the capture list's view for an operator on a show. New rows scroll into view while
// the view is at its end; once the operator scrolls up the view stays where they put it, and it
// follows again when they are back at the end. The row the function keys comment (the last one
// shown) is marked with a frame and a background of its own, unlike the selection, so that the
// operator sees which row F2 to F9 will write to.
class CaptureListFollower : public QObject {
    Q_OBJECT
public:
    // The mark: an amber frame around the row and, while the row is not selected, a pale amber
    // background.
    static inline const QColor MarkFrame = QColor(0xE0, 0x70, 0x00);
    static inline const QColor MarkBackground = QColor(0xFF, 0xE4, 0x9C);
    static constexpr int MarkFrameWidth = 2;

    // Watches view (a child of which it becomes) and the model the view has now.
    explicit CaptureListFollower(QTableView *view);

    // True while new rows scroll the view: it is at its end.
    bool following() const { return m_following; }
    // The row the mark is on: the last row the view shows, or -1 on an empty list.
    int markedRow() const;

    // A click with another button than the left one, at pos of the view's viewport: the row
    // under it becomes the selection (alone) and the current row, as a platform list does
    // before its context action. True when there was a row; on empty space nothing changes.
    bool selectRowAt(const QPoint &pos);

private:
    void follow();

    QTableView *m_view;
    bool m_following = true;
};
