#include "WorkProgress.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

int WorkProgress::s_running = 0;
int WorkProgress::s_showAfterMs = WorkProgress::ShowAfterMs;

WorkProgress::WorkProgress(QWidget *window, QString what) : m_window(window), m_what(std::move(what))
{
    ++s_running;
    m_progress = [this](qint64 done, qint64 total) { step(done, total); };
    m_clock.start();
}

WorkProgress::~WorkProgress()
{
    --s_running;
    if (m_cursorSet)
        QApplication::restoreOverrideCursor();
    if (m_bar && !m_ownWindow)
        delete m_bar.data();
}

void WorkProgress::setShowAfterMs(int ms)
{
    s_showAfterMs = ms;
}

void WorkProgress::step(qint64 done, qint64 total)
{
    const qint64 now = m_clock.elapsed();
    if (now < s_showAfterMs || (m_bar && now - m_lastUpdate < UpdateEveryMs))
        return;
    m_lastUpdate = now;
    if (!m_bar)
        show();
    // The bar counts in thousandths, so that totals beyond an int fit; without a total it only
    // shows that the work goes on.
    if (total > 0) {
        m_bar->setRange(0, 1000);
        m_bar->setValue(static_cast<int>(std::min<qint64>(done, total) * 1000 / total));
    } else {
        m_bar->setRange(0, 0);
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WorkProgress::show()
{
    auto *bar = new QProgressBar;
    bar->setObjectName(QStringLiteral("WorkProgress"));
    bar->setRange(0, 1000);
    bar->setFormat(m_what + QStringLiteral(" %p%"));
    bar->setTextVisible(true);
    bar->setAccessibleName(m_what);
    if (m_window && m_window->isVisible()) {
        // Along the bottom of the window, over what is there.
        bar->setParent(m_window);
        const int height = bar->sizeHint().height();
        bar->setGeometry(0, m_window->height() - height, m_window->width(), height);
        bar->raise();
        bar->show();
    } else {
        m_ownWindow = std::make_unique<QWidget>(nullptr, Qt::Dialog);
        m_ownWindow->setWindowTitle(QStringLiteral("Corvane"));
        auto *layout = new QVBoxLayout(m_ownWindow.get());
        layout->addWidget(new QLabel(m_what, m_ownWindow.get()));
        layout->addWidget(bar);
        bar->setMinimumWidth(320);
        m_ownWindow->adjustSize();
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            m_ownWindow->move(screen->availableGeometry().center() - m_ownWindow->rect().center());
        m_ownWindow->show();
    }
    m_bar = bar;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_cursorSet = true;
}
