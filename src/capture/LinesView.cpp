#include "LinesView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

namespace {

constexpr int Margin = 4;

} // namespace

LinesView::LinesView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    updateScrollBars();
}

void LinesView::setText(const QByteArray &bytes)
{
    m_bytes = bytes;
    m_starts.clear();
    m_longest = 0;
    const char *const begin = m_bytes.constData();
    const char *const end = begin + m_bytes.size();
    const char *p = begin;
    while (p < end) {
        m_starts.push_back(p - begin);
        const auto *lf = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char *next = lf ? lf + 1 : end;
        m_longest = std::max<qsizetype>(m_longest, next - p);
        p = next;
    }
    m_anchor = m_cursor = Position();
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

QByteArrayView LinesView::lineBytes(qsizetype index) const
{
    if (index < 0 || index >= lineCount())
        return {};
    const qsizetype start = m_starts[static_cast<size_t>(index)];
    qsizetype end = index + 1 < lineCount() ? m_starts[static_cast<size_t>(index + 1)] : m_bytes.size();
    if (end > start && m_bytes.at(end - 1) == '\n')
        --end;
    if (end > start && m_bytes.at(end - 1) == '\r')
        --end;
    return QByteArrayView(m_bytes.constData() + start, end - start);
}

QString LinesView::line(qsizetype index) const
{
    const QByteArrayView bytes = lineBytes(index);
    return QString::fromLatin1(bytes.data(), bytes.size());
}

QString LinesView::toPlainText() const
{
    if (lineCount() == 0)
        return QString();
    return selectedTextBetween({0, 0}, {lineCount() - 1, lineLength(lineCount() - 1)});
}

QString LinesView::selectedText() const
{
    return selectedTextBetween(std::min(m_anchor, m_cursor), std::max(m_anchor, m_cursor));
}

QString LinesView::selectedTextBetween(Position from, Position to) const
{
    QString text;
    for (qsizetype i = from.line; i <= to.line && i < lineCount(); ++i) {
        const QByteArrayView bytes = lineBytes(i);
        const qsizetype begin = i == from.line ? std::min(from.column, bytes.size()) : 0;
        const qsizetype end = i == to.line ? std::min(to.column, bytes.size()) : bytes.size();
        if (i != from.line)
            text += QLatin1Char('\n');
        text += QLatin1String(bytes.data() + begin, std::max<qsizetype>(0, end - begin));
    }
    return text;
}

void LinesView::select(Position from, Position to)
{
    m_anchor = clamp(from);
    m_cursor = clamp(to);
    ensureVisible(m_cursor);
    viewport()->update();
}

void LinesView::selectAll()
{
    if (lineCount() == 0)
        return;
    m_anchor = Position();
    m_cursor = {lineCount() - 1, lineLength(lineCount() - 1)};
    viewport()->update();
}

void LinesView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

qsizetype LinesView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

int LinesView::lineHeight() const
{
    return std::max(1, viewport()->fontMetrics().lineSpacing());
}

int LinesView::charWidth() const
{
    return std::max(1, viewport()->fontMetrics().horizontalAdvance(QLatin1Char('M')));
}

int LinesView::visibleLines() const
{
    return std::max(1, viewport()->height() / lineHeight());
}

void LinesView::updateScrollBars()
{
    // The vertical bar counts lines; a scroll bar's range is an int, which holds far more lines
    // than any EDL has.
    const qsizetype lines = lineCount();
    const int page = visibleLines();
    verticalScrollBar()->setRange(0, static_cast<int>(std::clamp<qsizetype>(lines - page, 0, INT_MAX)));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setSingleStep(1);
    const qsizetype width = m_longest * charWidth() + 2 * Margin;
    horizontalScrollBar()->setRange(0, static_cast<int>(std::clamp<qsizetype>(width - viewport()->width(), 0, INT_MAX)));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(charWidth());
}

void LinesView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void LinesView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        viewport()->setFont(font());
        updateScrollBars();
    }
}

void LinesView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void LinesView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QPalette &pal = palette();
    const int height = lineHeight();
    const int width = charWidth();
    const int ascent = viewport()->fontMetrics().ascent();
    const int left = Margin - horizontalScrollBar()->value();
    const qsizetype first = firstVisibleLine();
    const qsizetype last = std::min(lineCount(), first + visibleLines() + 1);
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    const bool active = hasFocus();
    const QColor highlight = pal.color(active ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
    const QColor highlighted = pal.color(active ? QPalette::Active : QPalette::Inactive, QPalette::HighlightedText);

    painter.setPen(pal.color(QPalette::Text));
    for (qsizetype i = first; i < last; ++i) {
        const int y = static_cast<int>(i - first) * height;
        const QByteArrayView bytes = lineBytes(i);
        // Only the characters that can show are drawn: a line may be far wider than the view.
        const qsizetype firstChar = std::max<qsizetype>(0, -left / width);
        const qsizetype shown = std::min<qsizetype>(bytes.size() - firstChar, viewport()->width() / width + 2);
        const int x = left + static_cast<int>(firstChar) * width;
        const QString text = shown > 0 ? QString::fromLatin1(bytes.data() + firstChar, shown) : QString();
        painter.drawText(x, y + ascent, text);
        if (hasSelection() && i >= from.line && i <= to.line) {
            const qsizetype begin = i == from.line ? std::min(from.column, bytes.size()) : 0;
            // The line end of a line selected past its end shows as one character.
            const qsizetype end = i == to.line ? std::min(to.column, bytes.size()) : bytes.size() + 1;
            if (end > begin) {
                const QRect band(left + static_cast<int>(begin) * width, y, static_cast<int>(end - begin) * width, height);
                painter.fillRect(band, highlight);
                painter.setPen(highlighted);
                const qsizetype stop = std::min(end, bytes.size());
                if (stop > begin)
                    painter.drawText(band.left(), y + ascent,
                                     QString::fromLatin1(bytes.data() + begin, stop - begin));
                painter.setPen(pal.color(QPalette::Text));
            }
        }
    }
    if (active && lineCount() > 0 && m_cursor.line >= first && m_cursor.line < last) {
        const int x = left + static_cast<int>(m_cursor.column) * width;
        const int y = static_cast<int>(m_cursor.line - first) * height;
        painter.fillRect(QRect(x, y, 1, height), pal.color(QPalette::Text));
    }
}

LinesView::Position LinesView::clamp(Position at) const
{
    if (lineCount() == 0)
        return {};
    at.line = std::clamp<qsizetype>(at.line, 0, lineCount() - 1);
    at.column = std::clamp<qsizetype>(at.column, 0, lineLength(at.line));
    return at;
}

LinesView::Position LinesView::positionAt(const QPoint &point) const
{
    const qsizetype line = firstVisibleLine() + std::max(0, point.y()) / lineHeight()
                           - (point.y() < 0 ? 1 : 0);
    const int x = point.x() + horizontalScrollBar()->value() - Margin;
    const qsizetype column = std::max(0, (x + charWidth() / 2) / charWidth());
    return clamp({line, column});
}

void LinesView::ensureVisible(Position at)
{
    QScrollBar *v = verticalScrollBar();
    if (at.line < v->value())
        v->setValue(static_cast<int>(at.line));
    else if (at.line >= v->value() + visibleLines())
        v->setValue(static_cast<int>(at.line - visibleLines() + 1));
    QScrollBar *h = horizontalScrollBar();
    const int x = static_cast<int>(at.column) * charWidth();
    if (x < h->value())
        h->setValue(x);
    else if (x + Margin * 2 > h->value() + viewport()->width())
        h->setValue(x + Margin * 2 - viewport()->width());
}

void LinesView::moveCursor(Position to, bool extend)
{
    m_cursor = clamp(to);
    if (!extend)
        m_anchor = m_cursor;
    ensureVisible(m_cursor);
    viewport()->update();
}

void LinesView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    Position at = m_cursor;
    const qsizetype page = visibleLines();
    switch (event->key()) {
    case Qt::Key_Up: --at.line; break;
    case Qt::Key_Down: ++at.line; break;
    case Qt::Key_Left:
        if (at.column > 0)
            --at.column;
        else if (at.line > 0)
            at = {at.line - 1, lineLength(at.line - 1)};
        break;
    case Qt::Key_Right:
        if (at.column < lineLength(at.line))
            ++at.column;
        else if (at.line + 1 < lineCount())
            at = {at.line + 1, 0};
        break;
    case Qt::Key_PageUp:
        at.line -= page;
        verticalScrollBar()->setValue(static_cast<int>(verticalScrollBar()->value() - page));
        break;
    case Qt::Key_PageDown:
        at.line += page;
        verticalScrollBar()->setValue(static_cast<int>(verticalScrollBar()->value() + page));
        break;
    case Qt::Key_Home:
        at = control ? Position() : Position{at.line, 0};
        break;
    case Qt::Key_End:
        at = control ? Position{lineCount() - 1, lineLength(lineCount() - 1)} : Position{at.line, lineLength(at.line)};
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    // A column past the end of a shorter line stays where the line ends.
    moveCursor(at, extend);
}

void LinesView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    moveCursor(positionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void LinesView::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        moveCursor(positionAt(event->position().toPoint()), true);
}

void LinesView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // A double click takes the word: the run of characters other than spaces.
    const Position at = positionAt(event->position().toPoint());
    const QByteArrayView bytes = lineBytes(at.line);
    qsizetype begin = at.column;
    qsizetype end = at.column;
    while (begin > 0 && bytes[begin - 1] != ' ')
        --begin;
    while (end < bytes.size() && bytes[end] != ' ')
        ++end;
    m_anchor = {at.line, begin};
    moveCursor({at.line, end}, true);
}

void LinesView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(tr("&Copy"), QKeySequence::Copy, this, &LinesView::copy);
    copyAction->setEnabled(hasSelection());
    QAction *all = menu.addAction(tr("Select All"), QKeySequence::SelectAll, this, &LinesView::selectAll);
    all->setEnabled(lineCount() > 0);
    menu.exec(event->globalPos());
}

void LinesView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LinesView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
