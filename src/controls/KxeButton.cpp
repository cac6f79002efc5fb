#include "KxeButton.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {

constexpr QRgb Silver = 0xFFC0C0C0;
constexpr QRgb Black = 0xFF000000;
constexpr QRgb Grey = 0xFF808080;

} // namespace

// ---------------------------------------------------------------------------------------------
// TKxColors

TKxColors::TKxColors(QObject *parent)
    : QObject(parent),
      m_values{Silver, Silver, Silver, Silver, // fills
               Black,  Black,  Black,  Black,  // rings
               Black,  Black,  Black,  Black,  // texts
               Silver, Grey}                   // disabled fill and ring
{
}

QColor TKxColors::color(int index) const
{
    if (index < 0 || index >= Count)
        return QColor();
    return QColor::fromRgba(m_values[size_t(index)]);
}

void TKxColors::setColor(int index, const QColor &value)
{
    if (index < 0 || index >= Count || !value.isValid())
        return;
    const QRgb rgba = value.rgba();
    if (m_values[size_t(index)] == rgba)
        return;
    m_values[size_t(index)] = rgba;
    emit OnChange();
}

// ---------------------------------------------------------------------------------------------
// TKxeButton

TKxeButton::TKxeButton(QWidget *parent)
    : QWidget(parent), m_colors(new TKxColors(this))
{
    connect(m_colors, &TKxColors::OnChange, this, qOverload<>(&QWidget::update));
    setFocusPolicy(Qt::StrongFocus);
    resize(sizeHint());
}

TKxeButton::~TKxeButton() = default;

QSize TKxeButton::sizeHint() const
{
    return QSize(80, 20);
}

void TKxeButton::setCornerStyle(TKxeCornerStyle style)
{
    m_cornerStyle = style;
    update();
}

void TKxeButton::setCornerRadius(quint16 radius)
{
    const int diameter = 2 * int(radius);
    if (diameter == m_cornerDiameter)
        return;
    m_cornerDiameter = diameter;
    update();
}

void TKxeButton::setLit(bool lit)
{
    if (lit == m_lit)
        return;
    m_lit = lit;
    m_litState = lit ? MaxLitState : 0;
    update();
}

void TKxeButton::setLitState(TKxLitState state)
{
    if (state > MaxLitState || state == m_litState)
        return;
    m_litState = state;
    // Dimming lights the button; going back to 0 leaves Lit as it was.
    if (state != 0)
        m_lit = true;
    update();
}

void TKxeButton::setRingWidth(quint16 width)
{
    if (width > MaxRingWidth || width == m_ringWidth)
        return;
    m_ringWidth = width;
    update();
}

void TKxeButton::setClear(bool clear)
{
    if (clear == m_clear)
        return;
    m_clear = clear;
    update();
}

void TKxeButton::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    setAccessibleName(caption);
    updateGeometry();
    update();
}

void TKxeButton::setTabStop(bool tabStop)
{
    setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus);
    update();
}

void TKxeButton::setTimedout(bool)
{
    if (!m_pressed)
        return;
    m_pressed = false;
    update();
    emit OnRightClick();
}

int TKxeButton::penWidthForPaint() const
{
    return m_ringWidth + (m_pressed ? 2 : 0);
}

QColor TKxeButton::parentBackground() const
{
    const QWidget *p = parentWidget();
    if (!p)
        p = this;
    return p->palette().color(p->backgroundRole());
}

void TKxeButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect all = rect();

    if (m_clear) {
        painter.fillRect(all, parentBackground());
        return;
    }

    QColor fill;
    QColor ring;
    QColor text;
    if (isEnabled()) {
        fill = m_colors->color(TKxColors::FillBase + m_litState);
        ring = m_colors->color(TKxColors::RingBase + m_litState);
        text = m_colors->color(TKxColors::TextBase + m_litState);
    } else {
        fill = m_colors->color(TKxColors::FillDisabled);
        ring = m_colors->color(TKxColors::RingDisabled);
        // The caption keeps the button's own (disabled) font colour.
        text = palette().color(QPalette::Disabled, foregroundRole());
    }
    if (m_ringWidth == 0)
        ring = fill; // no visible ring; a press still widens the body's edge in the fill colour

    painter.setRenderHint(QPainter::Antialiasing, true);

    // The ring lies wholly inside the button: a pen of width w is centred w/2 inside the edge,
    // so that straight edges cover whole pixel rows and columns. Width 0 is a 1-pixel pen.
    const int penWidth = qMax(1, penWidthForPaint());
    const qreal half = penWidth / 2.0;
    const QRectF body = QRectF(all).adjusted(half, half, -half, -half);
    const qreal cornerRadius = m_cornerDiameter / 2.0;
    if (body.width() > 0 && body.height() > 0) {
        painter.setPen(QPen(ring, penWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(fill);
        if (m_cornerStyle == kxcRound)
            painter.drawRoundedRect(body, cornerRadius, cornerRadius);
        else
            painter.drawRect(body);
    } else {
        painter.fillRect(all, ring);
    }

    painter.setFont(font());

    if (hasFocus()) {
        QPen dotted(ring, 1, Qt::DotLine);
        painter.setPen(dotted);
        painter.setBrush(Qt::NoBrush);
        const QRectF focusRect = QRectF(all).adjusted(2.5, 2.5, -2.5, -2.5);
        if (focusRect.width() > 0 && focusRect.height() > 0) {
            if (m_cornerStyle == kxcRound)
                painter.drawRoundedRect(focusRect, cornerRadius, cornerRadius);
            else
                painter.drawRect(focusRect);
        }
    }

    if (m_caption.isEmpty())
        return;
    const int inset = TabStop() ? 4 : 2;
    const QRect textClip = all.adjusted(inset, inset, -inset, -inset);
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(m_caption);
    const int textHeight = metrics.height();
    const int x = (all.width() - textWidth) / 2;
    const int y = (all.height() - textHeight) / 2;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipRect(textClip);
    painter.fillRect(QRect(x, y, textWidth, textHeight), fill);
    painter.setPen(text);
    painter.drawText(x, y + metrics.ascent(), m_caption);
}

void TKxeButton::mousePressEvent(QMouseEvent *event)
{
    // Accepting the press keeps the mouse grabbed by this button until the release, wherever
    // the pointer goes meanwhile.
    event->accept();
    m_pressButtons = event->buttons();
    m_pressPos = event->position().toPoint();
    m_pressed = true;
    update();
    emit OnUpdTimer(true);
}

void TKxeButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_pressed)
        return;
    m_pressed = false;
    update();

    // A handler may close or even delete the button.
    const QPointer<TKxeButton> self(this);
    const Qt::MouseButtons buttons = m_pressButtons;
    if (buttons & Qt::RightButton)
        emit OnRightClick();
    if (self && (buttons & Qt::LeftButton))
        emit OnClick();
    if (self)
        emit OnUpdTimer(false);
}

void TKxeButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        emit OnClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TKxeButton::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    if (TabStop())
        update();
}

void TKxeButton::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    if (TabStop())
        update();
}

void TKxeButton::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update();
}
