#pragma once

#include "Progress.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <chrono>
#include <future>
#include <memory>

#include <QProgressBar>
#include <QWidget>

// The progress of a long piece of work of the capture window (load, make, save, recovery), which
// runs on the user-interface thread: once the work has taken ShowAfterMs, a progress bar shows
// along the bottom of the window (or in a small window of its own while the capture window is not
// shown yet), and from then on the window keeps painting: every UpdateEveryMs the events other
// than the operator's input are handled (device events go on arriving, the window repaints).
// Gone when the object goes.
class WorkProgress {
public:
    static constexpr int ShowAfterMs = 500;
    static constexpr int UpdateEveryMs = 40;

    WorkProgress(QWidget *window, QString what);
    ~WorkProgress();
    WorkProgress(const WorkProgress &) = delete;
    WorkProgress &operator=(const WorkProgress &) = delete;

    // For the work: tells done out of total (a total of 0: the work cannot tell how far it is).
    const ProgressFn &progress() const { return m_progress; }
    void step(qint64 done, qint64 total);

    // Runs work on a thread of its own while the window goes on as under step() (the bar shows
    // after ShowAfterMs); returns what work returns, or raises what it raised. For work that
    // cannot report its progress (a whole file made in one call): it must use nothing that the
    // window's events can change or reach (no widgets, not the capture list).
    template <typename Work>
    auto runAside(Work work) -> decltype(work())
    {
        auto result = std::async(std::launch::async, std::move(work));
        while (result.wait_for(std::chrono::milliseconds(UpdateEveryMs / 2)) != std::future_status::ready)
            step(0, 0);
        return result.get();
    }

    // The bar, once shown.
    QProgressBar *bar() const { return m_bar; }
    // Some work with a progress is running (events handled during it must not start another).
    static bool running() { return s_running > 0; }
    // Tests make the bar show at once.
    static void setShowAfterMs(int ms);

private:
    void show();

    QPointer<QWidget> m_window;
    QString m_what;
    ProgressFn m_progress;
    QElapsedTimer m_clock;
    qint64 m_lastUpdate = 0;
    std::unique_ptr<QWidget> m_ownWindow; // while the capture window is not shown
    QPointer<QProgressBar> m_bar;
    bool m_cursorSet = false;
    static int s_running;
    static int s_showAfterMs;
};
