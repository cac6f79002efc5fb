#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>

#include <vector>

// A read-only view of text lines in a fixed-pitch font, over the bytes of a text file as they
// are (Latin-1 lines, each ended by CR LF): nothing is copied into a text document, so a text of
// millions of lines shows its first screen at once. It scrolls, selects with the mouse and the
// keyboard and copies as a read-only text edit does (Ctrl+C, Ctrl+A, the context menu).
class LinesView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LinesView(QWidget *parent = nullptr);

    // Shows the bytes (shared, not copied) from their first line, with nothing selected.
    void setText(const QByteArray &bytes);
    void clear() { setText(QByteArray()); }
    const QByteArray &text() const { return m_bytes; }

    qsizetype lineCount() const { return static_cast<qsizetype>(m_starts.size()); }
    QString line(qsizetype index) const;
    // The lines joined by '\n', as a text edit gives its text.
    QString toPlainText() const;
    bool isReadOnly() const { return true; }

    // Where the text caret is: a line and a column in it.
    struct Position {
        qsizetype line = 0;
        qsizetype column = 0;
        friend auto operator<=>(const Position &, const Position &) = default;
    };
    bool hasSelection() const { return m_anchor != m_cursor; }
    // The selected text, lines joined by '\n'.
    QString selectedText() const;
    void select(Position from, Position to);
    Position cursorPosition() const { return m_cursor; }
    // The first line shown.
    qsizetype firstVisibleLine() const;

public slots:
    void selectAll();
    void copy() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QByteArrayView lineBytes(qsizetype index) const;
    QString selectedTextBetween(Position from, Position to) const;
    qsizetype lineLength(qsizetype index) const { return lineBytes(index).size(); }
    int lineHeight() const;
    int charWidth() const;
    int visibleLines() const;
    void updateScrollBars();
    Position positionAt(const QPoint &point) const;
    void moveCursor(Position to, bool extend);
    void ensureVisible(Position at);
    Position clamp(Position at) const;

    QByteArray m_bytes;
    std::vector<qsizetype> m_starts; // where each line begins
    qsizetype m_longest = 0;          // characters in the longest line
    Position m_anchor;
    Position m_cursor;
};
