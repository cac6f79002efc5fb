#pragma once

#include <QColor>
#include <QObject>
#include <QRgb>
#include <QString>
#include <QWidget>

#include <array>

// The colour set of a lit button: a fill, ring and text colour for each of the four lighting
// levels, plus the fill and ring of the disabled button. Colours are addressed by index or by
// name; OnChange is emitted after a stored colour actually changes.
class TKxColors : public QObject {
    Q_OBJECT
    Q_PROPERTY(QColor Fill_Off READ Fill_Off WRITE setFill_Off NOTIFY OnChange)
    Q_PROPERTY(QColor Fill_Dim1 READ Fill_Dim1 WRITE setFill_Dim1 NOTIFY OnChange)
    Q_PROPERTY(QColor Fill_Dim2 READ Fill_Dim2 WRITE setFill_Dim2 NOTIFY OnChange)
    Q_PROPERTY(QColor Fill_Lit READ Fill_Lit WRITE setFill_Lit NOTIFY OnChange)
    Q_PROPERTY(QColor Ring_Off READ Ring_Off WRITE setRing_Off NOTIFY OnChange)
    Q_PROPERTY(QColor Ring_Dim1 READ Ring_Dim1 WRITE setRing_Dim1 NOTIFY OnChange)
    Q_PROPERTY(QColor Ring_Dim2 READ Ring_Dim2 WRITE setRing_Dim2 NOTIFY OnChange)
    Q_PROPERTY(QColor Ring_Lit READ Ring_Lit WRITE setRing_Lit NOTIFY OnChange)
    Q_PROPERTY(QColor Text_Off READ Text_Off WRITE setText_Off NOTIFY OnChange)
    Q_PROPERTY(QColor Text_Dim1 READ Text_Dim1 WRITE setText_Dim1 NOTIFY OnChange)
    Q_PROPERTY(QColor Text_Dim2 READ Text_Dim2 WRITE setText_Dim2 NOTIFY OnChange)
    Q_PROPERTY(QColor Text_Lit READ Text_Lit WRITE setText_Lit NOTIFY OnChange)
    Q_PROPERTY(QColor Fill_Disabled READ Fill_Disabled WRITE setFill_Disabled NOTIFY OnChange)
    Q_PROPERTY(QColor Ring_Disabled READ Ring_Disabled WRITE setRing_Disabled NOTIFY OnChange)

public:
    // Index layout: fills 0-3, rings 4-7, texts 8-11 (each by lighting level), then the two
    // disabled colours.
    enum Index : int {
        FillBase = 0,
        RingBase = 4,
        TextBase = 8,
        FillDisabled = 12,
        RingDisabled = 13,
        Count = 14,
    };

    explicit TKxColors(QObject *parent = nullptr);

    // An index outside 0..13 reads as an invalid colour; writing one, or an invalid colour,
    // is ignored.
    QColor color(int index) const;
    void setColor(int index, const QColor &value);

    QColor Fill_Off() const { return color(0); }
    QColor Fill_Dim1() const { return color(1); }
    QColor Fill_Dim2() const { return color(2); }
    QColor Fill_Lit() const { return color(3); }
    QColor Ring_Off() const { return color(4); }
    QColor Ring_Dim1() const { return color(5); }
    QColor Ring_Dim2() const { return color(6); }
    QColor Ring_Lit() const { return color(7); }
    QColor Text_Off() const { return color(8); }
    QColor Text_Dim1() const { return color(9); }
    QColor Text_Dim2() const { return color(10); }
    QColor Text_Lit() const { return color(11); }
    QColor Fill_Disabled() const { return color(12); }
    QColor Ring_Disabled() const { return color(13); }

    void setFill_Off(const QColor &c) { setColor(0, c); }
    void setFill_Dim1(const QColor &c) { setColor(1, c); }
    void setFill_Dim2(const QColor &c) { setColor(2, c); }
    void setFill_Lit(const QColor &c) { setColor(3, c); }
    void setRing_Off(const QColor &c) { setColor(4, c); }
    void setRing_Dim1(const QColor &c) { setColor(5, c); }
    void setRing_Dim2(const QColor &c) { setColor(6, c); }
    void setRing_Lit(const QColor &c) { setColor(7, c); }
    void setText_Off(const QColor &c) { setColor(8, c); }
    void setText_Dim1(const QColor &c) { setColor(9, c); }
    void setText_Dim2(const QColor &c) { setColor(10, c); }
    void setText_Lit(const QColor &c) { setColor(11, c); }
    void setFill_Disabled(const QColor &c) { setColor(12, c); }
    void setRing_Disabled(const QColor &c) { setColor(13, c); }

signals:
    // The colour set that changed is sender().
    void OnChange();

private:
    std::array<QRgb, Count> m_values;
};

enum TKxeCornerStyle { kxcSquare = 0, kxcRound = 1 };

// Lighting level: 0 off, 1 dim 1, 2 dim 2, 3 lit.
using TKxLitState = quint8;

// The program's own push button: a self-painted body with a coloured ring, square or rounded
// corners and four lighting levels. A press shows as a thicker ring. It reports left and right
// clicks and the start and end of every press, so that an owner can time a long press and end
// it early through setTimedout(), which turns it into a right-click.
class TKxeButton : public QWidget {
    Q_OBJECT

public:
    static constexpr int MaxRingWidth = 4;
    static constexpr TKxLitState MaxLitState = 3;

    explicit TKxeButton(QWidget *parent = nullptr);
    ~TKxeButton() override;

    TKxeCornerStyle CornerStyle() const { return m_cornerStyle; }
    void setCornerStyle(TKxeCornerStyle style);

    // Kept as a corner diameter of twice the radius.
    quint16 CornerRadius() const { return quint16(m_cornerDiameter / 2); }
    void setCornerRadius(quint16 radius);
    int cornerDiameter() const { return m_cornerDiameter; }

    bool Lit() const { return m_lit; }
    void setLit(bool lit);

    TKxLitState LitState() const { return m_litState; }
    void setLitState(TKxLitState state); // above 3: ignored

    TKxColors *Colors() const { return m_colors; }

    quint16 RingWidth() const { return m_ringWidth; }
    void setRingWidth(quint16 width); // above 4: ignored

    bool Clear() const { return m_clear; }
    void setClear(bool clear);

    // Reads true while a press is in progress. Writing any value ends a press in progress as a
    // right-click; the mouse release that follows then reports nothing.
    bool Timedout() const { return m_pressed; }
    void setTimedout(bool value);

    QString Caption() const { return m_caption; }
    void setCaption(const QString &caption);

    // A tab stop takes the focus by Tab and by click; otherwise only when asked in code.
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void setTabStop(bool tabStop);

    bool pressed() const { return m_pressed; }
    // The ring's pen width for the next paint: RingWidth, 2 more while pressed.
    int penWidthForPaint() const;

    QSize sizeHint() const override;

signals:
    void OnClick();
    void OnRightClick();
    void OnUpdTimer(bool depressed);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QColor parentBackground() const;

    TKxColors *m_colors;
    TKxeCornerStyle m_cornerStyle = kxcRound;
    int m_cornerDiameter = 4;
    bool m_lit = false;
    TKxLitState m_litState = 0;
    quint16 m_ringWidth = 1;
    bool m_clear = false;
    bool m_pressed = false;
    QString m_caption;
    // The mouse buttons held and the position at the last press.
    Qt::MouseButtons m_pressButtons;
    QPoint m_pressPos;
};
