#pragma once

#include "KxeButton.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>
#include <QTableWidget>
#include <QWidget>

#include <algorithm>

// Finds text that a window cuts off: for every label, button, check box, group box title, header
// section and fixed table cell shown in a window, the text's advance and line height in the
// widget's own font are compared with the room the widget (as its style draws it) gives the
// text. Measured independently of how the windows size themselves.
namespace TextFit {

// Where a widget is, for a report: its object names up to the window.
inline QString pathOf(const QWidget *widget)
{
    QStringList names;
    for (const QWidget *w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        const QString name = w->objectName();
        names.prepend(name.isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : name);
    }
    return names.join(QLatin1Char('/'));
}

// The text as drawn: "&&" shows as "&", a single "&" marks a mnemonic and is not drawn.
inline QString shownText(const QString &text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown += text.at(i);
    }
    return shown;
}

struct Need {
    QSize text;  // what the text takes
    QSize room;  // what it is given
};

inline QString report(const QWidget *widget, const QString &text, const Need &need, const QString &what = {})
{
    return QStringLiteral("%1%2: \"%3\" needs %4x%5, has %6x%7")
        .arg(pathOf(widget), what.isEmpty() ? QString() : QLatin1Char(' ') + what, text)
        .arg(need.text.width())
        .arg(need.text.height())
        .arg(need.room.width())
        .arg(need.room.height());
}

inline bool fits(const Need &need)
{
    return need.text.width() <= need.room.width() && need.text.height() <= need.room.height();
}

// A line's advance, and the height of its ink: the line is centred in its room, so the room must
// be as tall as the glyphs themselves (the font's leading may be cut, not the letters).
inline QSize lineSize(const QFontMetrics &metrics, const QString &text)
{
    return QSize(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).height());
}

inline void checkLabel(const QLabel *label, QStringList &clipped)
{
    const QString text = label->text();
    if (text.isEmpty() || label->textFormat() == Qt::RichText)
        return;
    const QFontMetrics metrics(label->font());
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    const QString shown = label->buddy() ? shownText(text) : text;
    Need need;
    if (label->wordWrap()) {
        // Every word on a line of its own at worst; the wrapped lines all in the height.
        int widest = 0;
        for (const QString &word : shown.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            widest = std::max(widest, metrics.horizontalAdvance(word));
        const QRect wrapped = metrics.boundingRect(QRect(0, 0, room.width(), 1 << 20),
                                                   int(label->alignment()) | Qt::TextWordWrap, shown);
        need = {QSize(widest, wrapped.height()), room.size()};
    } else {
        const QStringList lines = shown.split(QLatin1Char('\n'));
        int widest = 0;
        for (const QString &line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(line));
        need = {QSize(widest, metrics.height() + (int(lines.size()) - 1) * metrics.lineSpacing()), room.size()};
    }
    if (!fits(need))
        clipped << report(label, text, need);
}

inline void checkButton(QAbstractButton *button, QStringList &clipped)
{
    const QString text = button->text();
    if (text.isEmpty())
        return;
    const QFontMetrics metrics(button->font());
    const QString shown = shownText(text);
    QRect room;
    if (auto *push = qobject_cast<QPushButton *>(button)) {
        QStyleOptionButton option;
        option.initFrom(push);
        option.features = push->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
        option.text = text;
        option.icon = push->icon();
        option.iconSize = push->iconSize();
        room = push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push);
        if (!push->icon().isNull())
            room.setWidth(room.width() - push->iconSize().width() - 4);
    } else if (qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text;
        const bool check = qobject_cast<QCheckBox *>(button) != nullptr;
        room = button->style()->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
                                               &option, button);
        // The contents rectangle may run past the widget; only what lies inside is shown.
        room = room.intersected(button->rect());
    } else {
        room = button->contentsRect();
    }
    const Need need{lineSize(metrics, shown), room.size()};
    if (!fits(need))
        clipped << report(button, shown, need);
}

inline void checkLitButton(const TKxeButton *button, QStringList &clipped)
{
    const QString text = button->Caption();
    if (text.isEmpty())
        return;
    // The caption is centred on the line the font takes and clipped to the body inside the ring
    // and the focus mark: the ink must lie within that body.
    const int inset = button->TabStop() ? 4 : 2;
    const QFontMetrics metrics(button->font());
    const QRect body = button->rect().adjusted(inset, inset, -inset, -inset);
    const int baseline = (button->height() - metrics.height()) / 2 + metrics.ascent();
    const QRect ink = metrics.tightBoundingRect(text);
    const int x = (button->width() - metrics.horizontalAdvance(text)) / 2;
    const QRect drawn(x, baseline + ink.top(), metrics.horizontalAdvance(text), ink.height());
    if (!body.contains(drawn))
        clipped << report(button, text, {drawn.size(), body.intersected(drawn).size()});
}

inline void checkGroupBox(QGroupBox *box, QStringList &clipped)
{
    const QString text = box->title();
    if (text.isEmpty())
        return;
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = text;
    option.lineWidth = 1;
    option.midLineWidth = 0;
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (box->isCheckable())
        option.subControls |= QStyle::SC_GroupBoxCheckBox;
    const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    // The style gives the label the text's size; what matters is how much of it the box shows.
    const QRect shown = label.intersected(box->rect());
    const QString drawn = shownText(text);
    const Need need{lineSize(QFontMetrics(box->font()), drawn), shown.size()};
    if (!fits(need))
        clipped << report(box, drawn, need, QStringLiteral("title"));
}

inline void checkHeader(const QHeaderView *header, QStringList &clipped)
{
    if (!header->isVisible() || !header->model())
        return;
    const QFontMetrics metrics(header->font());
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int section = 0; section < header->count(); ++section) {
        if (header->isSectionHidden(section))
            continue;
        const QString text = header->model()->headerData(section, header->orientation()).toString();
        if (text.isEmpty())
            continue;
        const int size = header->sectionSize(section);
        const QSize room = header->orientation() == Qt::Horizontal
                               ? QSize(size - 2 * margin, header->height() - 2)
                               : QSize(header->width() - 2 * margin, size - 2);
        const Need need{lineSize(metrics, text), room};
        if (!fits(need))
            clipped << report(header, text, need, QStringLiteral("section %1").arg(section));
    }
}

// The cells of a grid that never change (headings, numbers): not editable. Of the rows in view,
// what the viewport shows of each cell: a column running under a scroll bar or past the
// viewport's edge is cut there.
inline void checkFixedCells(const QTableWidget *grid, QStringList &clipped)
{
    const int textMargin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
    const int gridLine = grid->showGrid() ? 1 : 0;
    const QSize viewport = grid->viewport()->size();
    for (int row = 0; row < grid->rowCount(); ++row) {
        const int top = grid->rowViewportPosition(row);
        if (grid->isRowHidden(row) || top >= viewport.height() || top + grid->rowHeight(row) <= 0)
            continue;
        for (int column = 0; column < grid->columnCount(); ++column) {
            const QTableWidgetItem *item = grid->item(row, column);
            if (!item || item->text().isEmpty() || (item->flags() & Qt::ItemIsEditable))
                continue;
            const int left = grid->columnViewportPosition(column);
            const int shown = std::min(left + grid->columnWidth(column), viewport.width()) - std::max(left, 0);
            const QFont font = item->data(Qt::FontRole).isValid() ? item->font() : grid->font();
            const Need need{lineSize(QFontMetrics(font), item->text()),
                            QSize(shown - 2 * textMargin - gridLine, grid->rowHeight(row) - gridLine)};
            if (!fits(need))
                clipped << report(grid, item->text(), need, QStringLiteral("cell %1,%2").arg(row).arg(column));
        }
    }
}

// Every text of the window and its visible children that does not fit.
inline QStringList clippedTexts(QWidget *window)
{
    QStringList clipped;
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(window);
    for (QWidget *widget : std::as_const(widgets)) {
        if (!widget->isVisible() || widget->window() != window)
            continue;
        if (auto *label = qobject_cast<QLabel *>(widget))
            checkLabel(label, clipped);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            checkButton(button, clipped);
        else if (auto *lit = qobject_cast<TKxeButton *>(widget))
            checkLitButton(lit, clipped);
        else if (auto *box = qobject_cast<QGroupBox *>(widget))
            checkGroupBox(box, clipped);
        else if (auto *header = qobject_cast<QHeaderView *>(widget))
            checkHeader(header, clipped);
        if (auto *grid = qobject_cast<QTableWidget *>(widget))
            checkFixedCells(grid, clipped);
    }
    return clipped;
}

} // namespace TextFit
