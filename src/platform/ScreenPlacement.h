#pragma once

#include <QList>
#include <QMargins>
#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

// The screens that windows are placed on: the part of each screen that windows may use (without
// panels and docks), in the desktop's coordinates, and which one is the primary screen. A
// virtual desktop can begin at negative coordinates (a screen left of or above the primary one),
// and the primary screen need not begin at (0,0).
struct ScreenLayout {
    QList<QRect> areas;
    int primary = 0;

    bool isEmpty() const { return areas.isEmpty(); }
    QRect primaryArea() const;
    // The smallest rectangle holding every screen.
    QRect virtualDesktop() const;
    // The screen holding most of the rectangle; when it lies on none, the screen nearest to it.
    // -1 without screens.
    int screenFor(const QRect &rect) const;
};

// Where windows go: every placement keeps a window on a screen the operator can reach.
namespace ScreenPlacement {

// A title bar narrower than this on a screen cannot be caught with the pointer.
constexpr int MinReachableWidth = 48;
// The strip at the top of a window that counts as its title bar when the frame is not known.
constexpr int MinTitleHeight = 20;

// The rectangle moved, and shrunk where it is larger, to lie inside area; never below minimum
// (a window that cannot shrink that far keeps its top left corner in the area).
QRect fitted(const QRect &rect, const QRect &area, const QSize &minimum = QSize());

// The rectangle unchanged when some of its title bar (the strip of titleHeight at its top, at
// least MinReachableWidth of it or its whole width) lies on a screen; otherwise moved the least
// distance that brings its title bar whole onto the nearest screen.
QRect reachable(const QRect &rect, const ScreenLayout &screens, int titleHeight);

// A window's outer rectangle as placed at start or when a desktop is applied. With the limits on
// ("checkdisp"), the window is moved and if need be shrunk onto the primary screen (single
// monitor) or onto the screen it lands on (multiple monitors); in every case its title bar stays
// reachable.
QRect limited(const QRect &rect, const ScreenLayout &screens, bool multipleMonitors, bool checkLimits,
              const QSize &minimum, int titleHeight);

// A place for a window of the given outer size beside the anchor window, on the anchor's screen:
// to its right, to its left, below or above it, whichever fits first; none when the screen has no
// room beside it.
std::optional<QRect> beside(const QRect &anchor, const QSize &size, const ScreenLayout &screens);

// beside() where there is room; otherwise, on the anchor's screen, the place that covers the
// least of the anchor window (beside it pushed onto the screen, or a corner of the screen).
QRect besideOrLeastOver(const QRect &anchor, const QSize &size, const ScreenLayout &screens);

// The screens as the windowing system reports them, or the layout a test set.
ScreenLayout screens();
// A test's own screens; none restores the real ones.
void setScreensForTests(const std::optional<ScreenLayout> &layout);

// The frame around a top-level window's client area once the window system has framed it; none
// before (a window not shown yet, or not framed yet). A frameless window has a known, empty frame.
std::optional<QMargins> knownFrame(const QWidget *window);
// The frame the window has, else the one a window of the program last had, else none at all.
QMargins frameOf(const QWidget *window);

} // namespace ScreenPlacement
