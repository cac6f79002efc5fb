#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <optional>

// The settings-aware window base. Its placement, font, visibility and title-bar mode are kept
// per window in the current desktop (keys "<FORM>" + object name + suffix). The first one
// created (the main window) opens the settings file while it loads, so the window's own set-up
// can read settings, and closes it when the window receives its close message.
//
// The title bar can hide itself while the pointer works in the window and come back when the
// pointer touches the window's top edge. Qt gives no access to the platform's hit testing, so
// the pointer is sampled while the mode is on (every move counts as one hit test), and the title
// bar is removed by making the window frameless with its menu bar hidden, keeping the client area
// in place. Refusing resizes from the side and bottom edges (BorderStopResize) is not possible
// through Qt on a framed window; a window with its title bar hidden has no resize edges at all.
class TKxForm : public QMainWindow {
    Q_OBJECT
public:
    enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
    Q_ENUM(TFormBorderStyle)

    // Where the pointer is, as far as title-bar handling cares.
    enum class HitZone { Client, TopEdge, Other };

    explicit TKxForm(QWidget *parent = nullptr);
    ~TKxForm() override;

    // The open settings-aware windows, in the order they were created.
    static QList<TKxForm *> openForms();
    // The first settings-aware window: the application's main window.
    static TKxForm *mainForm();

    // True for the window that opened the settings file (the main window).
    bool ownsSettingsFile() const { return m_ownsSettings; }

    // Closes the window as the program's own close call does: KxFormClose runs, but unlike the
    // close message (close box, system menu, close()) nothing is saved to the settings file.
    void closeWithoutCloseMessage();

    TFormBorderStyle BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(TFormBorderStyle style);
    // Sizeable and sizeable tool windows keep their width and height in the desktop.
    bool isSizeable() const { return m_borderStyle == bsSizeable || m_borderStyle == bsSizeToolWin; }

    bool AutoHideTitleBar() const { return m_autoHideTitleBar; }
    void setAutoHideTitleBar(bool on);
    bool AutoShowInactiveTitleBar() const { return m_autoShowInactive; }
    void setAutoShowInactiveTitleBar(bool on) { m_autoShowInactive = on; }
    bool BorderStopResize() const { return m_borderStopResize; }
    void setBorderStopResize(bool on) { m_borderStopResize = on; }

    bool TitleBarHidden() const { return m_titleBarHidden; }
    int HideCount() const { return m_hideCount; }
    void HideTitleBar();
    void ShowTitleBar();

    // One hit test at the pointer: counts client-area tests towards hiding the title bar, shows
    // it at the top edge. Each test is handled twice, as by the hook and by the window itself.
    void handleHitTest(HitZone zone);

    // The desktop key of this window for a suffix such as "_FLeft".
    QString formKey(const QString &suffix) const;

    // The outer position and size that the window has in the normal state.
    QRect normalFrameGeometry() const;
    // The outer position and size now; for a window not framed yet, with the frame it will get.
    QRect outerGeometry() const;
    // The frame around the client area; for a window not framed yet, the frame that the last
    // framed window had.
    QMargins frameMargins() const;

    // An outer placement asked for by the desktop: each edge or size that is not given stays as
    // the window has it. The window is limited to the screens as the desktop's monitor choice
    // and "checkdisp" say, and its title bar is always left on a screen.
    struct OuterPlacement {
        std::optional<int> left, top, width, height;
        bool multipleMonitors = false;
        bool checkLimits = false;
    };
    // Applies the placement now; a window that the window system has not framed yet gets it
    // again once its frame is known, so that its outer size comes out as asked.
    void placeOuter(const OuterPlacement &placement);

signals:
    // Emitted by RestoreAllWindows after this window's placement was applied again.
    void OnSettingsChange(TKxForm *sender);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Called when the window is shown, not when the title-bar handling re-creates it.
    virtual void KxFormShow() {}
    // Called while the window closes (by any path), before the settings file is closed.
    virtual void KxFormClose() {}

private:
    friend class TKxSettingsFile;
    void samplePointer();
    void hitTestOnce(HitZone zone);
    void applyPendingPlacement();
    void watchForFrame();
    bool isActiveForm() const;
    // Re-creates the native window with or without its frame, keeping the client area in place.
    void setFramed(bool framed, int menuHeight);

    bool m_ownsSettings = false;
    bool m_programClose = false;
    bool m_restoring = false;
    bool m_recreating = false;
    TFormBorderStyle m_borderStyle = bsSizeable;
    bool m_autoHideTitleBar = false;
    bool m_autoShowInactive = false;
    bool m_borderStopResize = false;
    bool m_titleBarHidden = false;
    int m_hideCount = 0;
    QPointer<QWidget> m_savedMenu;
    QTimer m_pointerTimer;
    QPoint m_lastPointer;
    std::optional<OuterPlacement> m_pendingPlacement;
    QTimer m_frameWatch;
    int m_frameChecks = 0;
    bool m_placing = false;
};

