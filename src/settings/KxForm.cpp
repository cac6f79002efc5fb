#include "KxForm.h"

#include "ErrorReport.h"
#include "KxSettings.h"
#include "ScreenPlacement.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>
#include <QWindowStateChangeEvent>

using namespace SettingsKeys;

namespace {

QList<TKxForm *> &forms()
{
    static QList<TKxForm *> list;
    return list;
}


// Pointer rows at the top of a window that count as its top edge.
constexpr int TopEdgeRows = 4;
constexpr int PointerSampleMs = 50;
// How often, and how many times, a shown window is looked at until the window system has framed it.
constexpr int FrameWatchMs = 20;
constexpr int FrameWatchChecks = 100;

const QString FLeft = QStringLiteral("_FLeft");
const QString FTop = QStringLiteral("_FTop");
const QString FWidth = QStringLiteral("_FWidth");
const QString FHeight = QStringLiteral("_FHeight");
const QString FState = QStringLiteral("_FState");
const QString FontSize = QStringLiteral("_FontSize");
const QString FontName = QStringLiteral("_FontName");
const QString FVisible = QStringLiteral("_FVisible");
const QString FAutoHide = QStringLiteral("_FAutoHideTitleBar");

enum PlacementState { StateNormal = 1, StateMinimized = 2, StateMaximized = 3 };

} // namespace


TKxForm::TKxForm(QWidget *parent) : QMainWindow(parent)
{
    forms().append(this);
    if (!SettingsFile && forms().size() == 1) {
        m_ownsSettings = true;
        CreateSettingsFile();
    }
    m_pointerTimer.setInterval(PointerSampleMs);
    m_frameWatch.setInterval(FrameWatchMs);
    connect(&m_frameWatch, &QTimer::timeout, this, [this] {
        if (!m_pendingPlacement || ++m_frameChecks > FrameWatchChecks) {
            m_frameWatch.stop();
            return;
        }
        applyPendingPlacement();
    });
    connect(&m_pointerTimer, &QTimer::timeout, this, &TKxForm::samplePointer);
}

TKxForm::~TKxForm()
{
    forms().removeAll(this);
}

QList<TKxForm *> TKxForm::openForms()
{
    return forms();
}

TKxForm *TKxForm::mainForm()
{
    return forms().isEmpty() ? nullptr : forms().first();
}

QString TKxForm::formKey(const QString &suffix) const
{
    return FormMarker + objectName() + suffix;
}

void TKxForm::setBorderStyle(TFormBorderStyle style)
{
    m_borderStyle = style;
    const bool tool = style == bsToolWindow || style == bsSizeToolWin;
    setWindowFlag(Qt::Tool, tool);
}

void TKxForm::closeWithoutCloseMessage()
{
    m_programClose = true;
    close();
    m_programClose = false;
}

void TKxForm::closeEvent(QCloseEvent *event)
{
    runGuarded([this] { KxFormClose(); });
    if (m_ownsSettings && !m_programClose) {
        CloseSettingsFile();
        m_ownsSettings = false;
    }
    QMainWindow::closeEvent(event);
}

QRect TKxForm::normalFrameGeometry() const
{
    if (!normalGeometry().isValid() || !isVisible())
        return outerGeometry();
    return normalGeometry().marginsAdded(frameMargins());
}

QRect TKxForm::outerGeometry() const
{
    if (ScreenPlacement::knownFrame(this))
        return frameGeometry();
    // Not framed yet: a window's position is that of its frame already; its size is the client's.
    return QRect(pos(), size().grownBy(frameMargins()));
}

void TKxForm::placeOuter(const OuterPlacement &placement)
{
    const QScopedValueRollback placing(m_placing, true);
    const std::optional<QMargins> known = ScreenPlacement::knownFrame(this);
    const QMargins frame = known ? *known : frameMargins();
    const QRect now = outerGeometry();
    const QRect asked(placement.left.value_or(now.x()), placement.top.value_or(now.y()),
                      placement.width.value_or(now.width()), placement.height.value_or(now.height()));
    const int titleHeight = frame.top() > 0 ? frame.top() : ScreenPlacement::MinTitleHeight;
    const QRect placed = ScreenPlacement::limited(asked, ScreenPlacement::screens(), placement.multipleMonitors,
                                                  placement.checkLimits, minimumSize().grownBy(frame), titleHeight);
    // move() places the frame of a window that was never made; once the native window exists it
    // places the client area, offset by the frame Qt knows (none before the window is framed).
    if (!testAttribute(Qt::WA_WState_Created) || known)
        move(placed.topLeft());
    else
        move(placed.topLeft() + QPoint(frame.left(), frame.top()));
    resize(placed.size().shrunkBy(frame).expandedTo(QSize(1, 1)));
    // Once the window system has framed the window, the same request again with its real
    // frame: sizes not asked for keep the client area as it is.
    if (known) {
        m_pendingPlacement.reset();
    } else {
        m_pendingPlacement = placement;
        if (isVisible())
            watchForFrame();
    }
}

void TKxForm::watchForFrame()
{
    // The window system frames a window soon after it shows, and not always with a move or
    // resize the window hears of: it is looked at until then (a window never framed, without a
    // window manager, keeps the placement it has).
    m_frameChecks = 0;
    if (!m_frameWatch.isActive())
        m_frameWatch.start();
}

void TKxForm::applyPendingPlacement()
{
    if (!m_pendingPlacement || m_placing || !isVisible() || !ScreenPlacement::knownFrame(this))
        return;
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        m_pendingPlacement.reset();
        return;
    }
    const OuterPlacement placement = *m_pendingPlacement;
    m_pendingPlacement.reset();
    placeOuter(placement);
}

void TKxForm::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    applyPendingPlacement();
}

void TKxForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    applyPendingPlacement();
}

void TKxForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_pendingPlacement)
        watchForFrame();
    if (!event->spontaneous() && !m_recreating)
        runGuarded([this] { KxFormShow(); });
}

void TKxForm::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && !m_restoring && SettingsFile) {
        const Qt::WindowStates old = static_cast<QWindowStateChangeEvent *>(event)->oldState();
        const bool wasNormal = !(old & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
        const bool toMinimized = (windowState() & Qt::WindowMinimized) && !(old & Qt::WindowMinimized);
        const bool toMaximized = (windowState() & Qt::WindowMaximized) && !(old & Qt::WindowMaximized);
        // Saving as the window leaves the normal state keeps its normal edges in the desktop:
        // later saves of a minimized or maximized window write only its state.
        if (wasNormal && (toMinimized || toMaximized))
            runGuarded([this] { SettingsFile->savePlacement(this, true); });
        if (toMaximized)
            ShowTitleBar();
    }
    QMainWindow::changeEvent(event);
}

void TKxForm::setAutoHideTitleBar(bool on)
{
    if (on == m_autoHideTitleBar)
        return;
    m_autoHideTitleBar = on;
    if (on) {
        HideTitleBar();
        m_lastPointer = QCursor::pos();
        m_pointerTimer.start();
    } else {
        ShowTitleBar();
        m_pointerTimer.stop();
    }
}

void TKxForm::setFramed(bool framed, int menuHeight)
{
    const bool wasVisible = isVisible();
    const bool wasActive = isActiveForm();
    const QRect client = geometry();
    ScreenPlacement::knownFrame(this); // remembers the frame before it goes
    // Changing the frame re-creates the native window; that is no new showing of the window.
    m_recreating = true;
    setWindowFlag(Qt::FramelessWindowHint, !framed);
    // The menu bar belongs to the client area in Qt: the window grows or shrinks by its height
    // at the top so that the rest of the client area stays where it was.
    const int shift = framed ? -menuHeight : menuHeight;
    setGeometry(client.x(), client.y() + shift, client.width(), client.height() - shift);
    if (wasVisible)
        show();
    m_recreating = false;
    // The new native window must take the focus back once it is up.
    if (wasActive)
        QTimer::singleShot(0, this, [this] { activateWindow(); });
}

QMargins TKxForm::frameMargins() const
{
    return ScreenPlacement::frameOf(this);
}

void TKxForm::HideTitleBar()
{
    if (!m_autoHideTitleBar || m_borderStyle == bsNone || isMaximized() || m_titleBarHidden)
        return;
    int menuHeight = 0;
    QWidget *menu = menuWidget();
    if (menu && !menu->isHidden()) {
        m_savedMenu = menu;
        menuHeight = menu->isVisible() ? menu->height() : menu->sizeHint().height();
        menu->hide();
    }
    setFramed(false, menuHeight);
    m_titleBarHidden = true;
}

void TKxForm::ShowTitleBar()
{
    if (m_borderStyle == bsNone || !m_titleBarHidden)
        return;
    int menuHeight = 0;
    if (m_savedMenu) {
        menuHeight = m_savedMenu->sizeHint().height();
        m_savedMenu->show();
    }
    m_savedMenu.clear();
    setFramed(true, menuHeight);
    m_titleBarHidden = false;
}

void TKxForm::hitTestOnce(HitZone zone)
{
    switch (zone) {
    case HitZone::Client:
        if (!m_titleBarHidden && m_autoHideTitleBar) {
            if (m_hideCount >= 3) {
                m_hideCount = 0;
                HideTitleBar();
            } else {
                ++m_hideCount;
            }
        }
        break;
    case HitZone::TopEdge:
        if (m_titleBarHidden) {
            if (m_autoShowInactive || isActiveForm())
                ShowTitleBar();
        } else {
            HideTitleBar();
        }
        break;
    case HitZone::Other:
        break;
    }
}

bool TKxForm::isActiveForm() const
{
    // The focus window tells as soon as the platform does; the widget side may follow later.
    return isActiveWindow() || (windowHandle() && windowHandle() == QGuiApplication::focusWindow());
}

void TKxForm::handleHitTest(HitZone zone)
{
    const bool hiddenBefore = m_titleBarHidden;
    hitTestOnce(zone);
    if (!m_autoHideTitleBar)
        return;
    // The second handling finds the pointer afresh: a window whose title bar just came or went
    // at the top edge has moved under the pointer, which is then over the caption or outside.
    if (zone == HitZone::TopEdge && m_titleBarHidden != hiddenBefore)
        zone = HitZone::Other;
    hitTestOnce(zone);
}

void TKxForm::samplePointer()
{
    if (!isVisible())
        return;
    const QPoint at = QCursor::pos();
    if (at == m_lastPointer)
        return;
    m_lastPointer = at;
    const QRect frame = frameGeometry();
    if (!frame.contains(at))
        return;
    HitZone zone = HitZone::Other;
    if (at.y() < frame.top() + TopEdgeRows)
        zone = HitZone::TopEdge;
    else if (geometry().contains(at))
        zone = HitZone::Client;
    handleHitTest(zone);
}

// ---- Window placement in the current desktop ----

void TKxSettingsFile::SaveWindowPlacement(TKxForm *form)
{
    savePlacement(form, false);
}

void TKxSettingsFile::savePlacement(TKxForm *form, bool leavingNormalState)
{
    const bool wasHidden = form->TitleBarHidden();
    if (wasHidden)
        form->ShowTitleBar();

    QList<QPair<QString, QString>> values;
    auto put = [&](const QString &suffix, const QString &value) { values.append({form->formKey(suffix), value}); };
    auto putInt = [&](const QString &suffix, int value) { put(suffix, QString::number(value)); };

    if (form->isMinimized() && !leavingNormalState) {
        putInt(FState, StateMinimized);
    } else if (form->isMaximized() && !leavingNormalState) {
        putInt(FState, StateMaximized);
    } else {
        // In the normal state, or just leaving it: its normal edges and size.
        const QRect frame = leavingNormalState ? form->normalFrameGeometry() : form->outerGeometry();
        putInt(FLeft, frame.x());
        putInt(FTop, frame.y());
        putInt(FState, StateNormal);
        if (form->isSizeable()) {
            putInt(FWidth, frame.width());
            putInt(FHeight, frame.height());
        }
    }
    const QFont font = form->font();
    putInt(FontSize, font.pointSize() > 0 ? font.pointSize() : qRound(font.pointSizeF()));
    put(FontName, font.family());
    putInt(FVisible, form->isVisible() ? 1 : 0);
    putInt(FAutoHide, form->AutoHideTitleBar() ? 1 : 0);
    // One rewrite of the file for the whole window.
    m_settings.writeStrings(Current, values);

    if (wasHidden)
        form->HideTitleBar();
}

void TKxSettingsFile::RestoreWindowPlacement(TKxForm *form)
{
    const bool wasHidden = form->TitleBarHidden();
    if (wasHidden)
        form->ShowTitleBar();
    form->m_restoring = true;

    const int fontSize = GetInteger(form->formKey(FontSize));
    if (fontSize != NoValue) {
        QFont font = form->font();
        if (fontSize > 0)
            font.setPointSize(fontSize);
        font.setFamily(GetString(form->formKey(FontName)));
        form->setFont(font);
    }

    auto value = [&](const QString &suffix) -> std::optional<int> {
        const int v = GetInteger(form->formKey(suffix));
        return v == NoValue ? std::nullopt : std::optional<int>(v);
    };
    TKxForm::OuterPlacement placement;
    placement.left = value(FLeft);
    placement.top = value(FTop);
    if (form->isSizeable()) {
        placement.width = value(FWidth);
        placement.height = value(FHeight);
    }
    placement.multipleMonitors = MultiDisplay();
    placement.checkLimits = GetBool(CheckDisplay);

    switch (GetInteger(form->formKey(FState))) {
    case StateNormal:
        form->setWindowState(Qt::WindowNoState);
        form->placeOuter(placement);
        break;
    case StateMinimized:
        // The normal-state edges still apply when the window is restored.
        form->setWindowState(Qt::WindowNoState);
        form->placeOuter(placement);
        form->setWindowState(Qt::WindowMinimized);
        break;
    case StateMaximized:
        form->setWindowState(Qt::WindowMaximized);
        break;
    default:
        form->placeOuter(placement);
        break;
    }

    if (form->objectName() != QLatin1String("KxSettingsForm") && form != TKxForm::mainForm()) {
        switch (GetInteger(form->formKey(FVisible))) {
        case 0:
            form->hide();
            break;
        case 1:
            form->show();
            break;
        default:
            break;
        }
    }
    switch (GetInteger(form->formKey(FAutoHide))) {
    case 0:
        form->setAutoHideTitleBar(false);
        break;
    case 1:
        form->setAutoHideTitleBar(true);
        break;
    default:
        break;
    }

    form->m_restoring = false;
    if (wasHidden)
        form->HideTitleBar();
}

void TKxSettingsFile::SaveAllWindows()
{
    for (TKxForm *form : TKxForm::openForms())
        SaveWindowPlacement(form);
}

void TKxSettingsFile::RestoreAllWindows()
{
    for (TKxForm *form : TKxForm::openForms()) {
        RestoreWindowPlacement(form);
        emit form->OnSettingsChange(form);
    }
}
