#include "ScreenPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace {

std::optional<ScreenLayout> &testLayout()
{
    static std::optional<ScreenLayout> layout;
    return layout;
}

QMargins &lastFrame()
{
    static QMargins frame;
    return frame;
}

// Squared distance between two rectangles; 0 when they touch or overlap.
qint64 distance(const QRect &a, const QRect &b)
{
    const qint64 dx = std::max({0, b.left() - a.right() - 1, a.left() - b.right() - 1});
    const qint64 dy = std::max({0, b.top() - a.bottom() - 1, a.top() - b.bottom() - 1});
    return dx * dx + dy * dy;
}

qint64 overlap(const QRect &a, const QRect &b)
{
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : qint64(both.width()) * both.height();
}

// The coordinate that puts a span of the given length inside [low, high], moving it the least;
// a span longer than the room starts at low.
int clampSpan(int start, int length, int low, int high)
{
    if (start + length - 1 > high)
        start = high - length + 1;
    return std::max(start, low);
}

} // namespace

QRect ScreenLayout::primaryArea() const
{
    if (areas.isEmpty())
        return QRect();
    return areas.at(primary >= 0 && primary < areas.size() ? primary : 0);
}

QRect ScreenLayout::virtualDesktop() const
{
    QRect all;
    for (const QRect &area : areas)
        all = all.united(area);
    return all;
}

int ScreenLayout::screenFor(const QRect &rect) const
{
    int best = -1;
    qint64 bestOverlap = 0;
    for (int i = 0; i < areas.size(); ++i) {
        const qint64 o = overlap(rect, areas.at(i));
        if (o > bestOverlap) {
            bestOverlap = o;
            best = i;
        }
    }
    if (best >= 0)
        return best;
    qint64 nearest = std::numeric_limits<qint64>::max();
    for (int i = 0; i < areas.size(); ++i) {
        const qint64 d = distance(rect, areas.at(i));
        if (d < nearest) {
            nearest = d;
            best = i;
        }
    }
    return best;
}

namespace ScreenPlacement {

QRect fitted(const QRect &rect, const QRect &area, const QSize &minimum)
{
    if (area.isEmpty())
        return rect;
    const int width = std::max(std::min(rect.width(), area.width()), minimum.width());
    const int height = std::max(std::min(rect.height(), area.height()), minimum.height());
    return QRect(clampSpan(rect.x(), width, area.left(), area.right()),
                 clampSpan(rect.y(), height, area.top(), area.bottom()), width, height);
}

QRect reachable(const QRect &rect, const ScreenLayout &screens, int titleHeight)
{
    if (screens.isEmpty() || rect.isEmpty())
        return rect;
    const int height = std::clamp(titleHeight, 1, rect.height());
    const int needed = std::min(MinReachableWidth, rect.width());
    const QRect title(rect.x(), rect.y(), rect.width(), height);
    for (const QRect &area : screens.areas) {
        const QRect shown = title.intersected(area);
        if (shown.height() >= std::min(height, area.height()) && shown.width() >= needed)
            return rect;
    }
    const QRect area = screens.areas.at(screens.screenFor(title));
    QRect moved = rect;
    moved.moveTop(clampSpan(rect.y(), height, area.top(), area.bottom()));
    // Only as far as it takes to bring the needed part of the title bar onto the screen.
    if (rect.right() < area.left() + needed - 1)
        moved.moveLeft(area.left() + needed - rect.width());
    else if (rect.left() > area.right() - needed + 1)
        moved.moveLeft(area.right() - needed + 1);
    return moved;
}

QRect limited(const QRect &rect, const ScreenLayout &screens, bool multipleMonitors, bool checkLimits,
              const QSize &minimum, int titleHeight)
{
    if (screens.isEmpty())
        return rect;
    QRect placed = rect;
    if (checkLimits) {
        const QRect area = multipleMonitors ? screens.areas.at(screens.screenFor(rect)) : screens.primaryArea();
        placed = fitted(rect, area, minimum);
    }
    return reachable(placed, screens, titleHeight);
}

std::optional<QRect> beside(const QRect &anchor, const QSize &size, const ScreenLayout &screens)
{
    if (screens.isEmpty())
        return std::nullopt;
    const QRect area = screens.areas.at(screens.screenFor(anchor));
    const int y = clampSpan(anchor.top(), size.height(), area.top(), area.bottom());
    const int x = clampSpan(anchor.left(), size.width(), area.left(), area.right());
    const QRect candidates[] = {
        QRect(QPoint(anchor.right() + 1, y), size),     // right
        QRect(QPoint(anchor.left() - size.width(), y), size), // left
        QRect(QPoint(x, anchor.bottom() + 1), size),    // below
        QRect(QPoint(x, anchor.top() - size.height()), size), // above
    };
    for (const QRect &candidate : candidates) {
        if (area.contains(candidate) && !candidate.intersects(anchor))
            return candidate;
    }
    return std::nullopt;
}

QRect besideOrLeastOver(const QRect &anchor, const QSize &size, const ScreenLayout &screens)
{
    if (const std::optional<QRect> place = beside(anchor, size, screens))
        return *place;
    if (screens.isEmpty())
        return QRect(anchor.topLeft(), size);
    const QRect area = screens.areas.at(screens.screenFor(anchor));
    const QRect candidates[] = {
        fitted(QRect(QPoint(anchor.right() + 1, anchor.top()), size), area),
        fitted(QRect(QPoint(anchor.left() - size.width(), anchor.top()), size), area),
        fitted(QRect(QPoint(anchor.left(), anchor.bottom() + 1), size), area),
        fitted(QRect(QPoint(anchor.left(), anchor.top() - size.height()), size), area),
        fitted(QRect(QPoint(area.right() - size.width() + 1, area.bottom() - size.height() + 1), size), area),
        fitted(QRect(QPoint(area.left(), area.bottom() - size.height() + 1), size), area),
        fitted(QRect(QPoint(area.right() - size.width() + 1, area.top()), size), area),
        fitted(QRect(area.topLeft(), size), area),
    };
    QRect best = candidates[0];
    for (const QRect &candidate : candidates) {
        if (overlap(candidate, anchor) < overlap(best, anchor))
            best = candidate;
    }
    return best;
}

ScreenLayout screens()
{
    if (testLayout())
        return *testLayout();
    ScreenLayout layout;
    const QScreen *primary = QGuiApplication::primaryScreen();
    const QList<QScreen *> all = QGuiApplication::screens();
    for (const QScreen *screen : all) {
        if (screen == primary)
            layout.primary = int(layout.areas.size());
        layout.areas.append(screen->availableGeometry());
    }
    return layout;
}

void setScreensForTests(const std::optional<ScreenLayout> &layout)
{
    testLayout() = layout;
}

std::optional<QMargins> knownFrame(const QWidget *window)
{
    if (!window || !window->isWindow())
        return std::nullopt;
    if (window->windowFlags().testFlag(Qt::FramelessWindowHint))
        return QMargins();
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    if (margins.isNull() || !window->testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    lastFrame() = margins;
    return margins;
}

QMargins frameOf(const QWidget *window)
{
    if (const std::optional<QMargins> known = knownFrame(window))
        return *known;
    return lastFrame();
}

} // namespace ScreenPlacement
