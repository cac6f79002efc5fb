#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QToolButton>

class QTableView;
class QTimer;


// Looks after the capture list's view for an operator on a show. New rows scroll into view while
// the view is at its end; once the operator scrolls up the view stays where they put it.
//
// While the operator works in the list, following pauses so that no row moves under the pointer:
// while the pointer is over the list, while the list has the keyboard focus with a row chosen
// (by a click or by keys), and while a dialog about a row is open (hold()). It resumes by itself
// once none of these holds (the operator has left the list), or at once with the End key or a
// click on the "Follow" control that shows at the foot of the list while it does not follow. A
// pointer that rests over the list (the mouse put down there while the operator watches the
// show) holds it only until PointerRestMs after its last move.
//
// The row the function keys comment is marked with a frame and a background of its own, unlike
// the selection: the newest row while the list follows, the chosen row while the operator works
// in the list.
class CaptureListFollower : public QObject {
    Q_OBJECT
public:
    // The mark: an amber frame around the row and, while the row is not selected, a pale amber
    // background.
    static inline const QColor MarkFrame = QColor(0xE0, 0x70, 0x00);
    static inline const QColor MarkBackground = QColor(0xFF, 0xE4, 0x9C);
    static constexpr int MarkFrameWidth = 2;
    static constexpr int PointerRestMs = 4000;
    // Tests shorten the rest.
    static void setPointerRestMs(int ms);

    // Watches view (a child of which it becomes) and the model the view has now.
    explicit CaptureListFollower(QTableView *view);

    // True while the view was left at its end: new rows scroll it unless following is paused.
    bool following() const { return m_following; }
    // True while the operator works in the list and following waits.
    bool paused() const;
    // The row the mark is on and the function keys comment: the chosen row while the list has the
    // keyboard focus with one chosen, otherwise the last row; -1 on an empty list.
    int markedRow() const;

    // A click with another button than the left one, at pos of the view's viewport: the row
    // under it becomes the selection (alone) and the current row, as a platform list does
    // before its context action. True when there was a row; on empty space nothing changes.
    bool selectRowAt(const QPoint &pos);

    // Following waits while a dialog about a row is open: between hold() and release().
    void hold();
    void release();

    // Back to the newest row: nothing chosen, the view at its end and following (End key, the
    // "Follow" control).
    void followNewest();

    // The control that resumes following; shown only while the list does not follow.
    QToolButton *followControl() const { return m_followControl; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow();
    // Scrolls to the end when following and not paused; shows or hides the "Follow" control.
    void update();
    void placeFollowControl();

    QTableView *m_view;
    // Compared with, never used: the view's children go before this object when the view ends.
    QObject *m_viewport = nullptr;
    QPointer<QToolButton> m_followControl;
    bool m_following = true;
    bool m_pointerOver = false;
    QTimer *m_pointerRest = nullptr;
    int m_dialogs = 0;
    static int s_pointerRestMs;
};
