#include "DeferredDiskSync.h"

#include <cerrno>

#if defined(Q_OS_WIN)
#include <io.h>
#else
#include <unistd.h>
#endif

DeferredDiskSync::DeferredDiskSync(int startMs, QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(startMs);
    connect(&m_timer, &QTimer::timeout, this, &DeferredDiskSync::requestSync);
}

DeferredDiskSync::~DeferredDiskSync()
{
    stop(false);
}

int DeferredDiskSync::syncDescriptor(int fd)
{
#if defined(Q_OS_WIN)
    const int result = ::_commit(fd);
#elif defined(Q_OS_MACOS)
    const int result = ::fsync(fd);
#else
    const int result = ::fdatasync(fd);
#endif
    return result == 0 ? 0 : errno;
}

void DeferredDiskSync::sync(int fd)
{
    if (const int error = syncDescriptor(fd)) {
        int none = 0;
        m_failure.compare_exchange_strong(none, error);
    }
    ++m_syncs;
}

void DeferredDiskSync::start(int fd)
{
    stop(true);
    m_fd = fd;
    m_unsynced = false;
    m_failure = 0;
    m_wanted = false;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void DeferredDiskSync::written()
{
    if (m_fd < 0)
        return;
    m_unsynced = true;
    if (!m_timer.isActive())
        m_timer.start();
}

void DeferredDiskSync::syncNow()
{
    m_timer.stop();
    if (m_fd < 0 || !m_unsynced)
        return;
    m_unsynced = false;
    sync(m_fd);
}

void DeferredDiskSync::requestSync()
{
    if (m_fd < 0 || !m_unsynced)
        return;
    // Everything written so far is covered by a sync that starts after this.
    m_unsynced = false;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_wanted = true;
    }
    m_wake.notify_one();
}

void DeferredDiskSync::stop(bool syncPending)
{
    if (syncPending)
        syncNow();
    m_timer.stop();
    if (m_thread.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    m_fd = -1;
    m_unsynced = false;
}

void DeferredDiskSync::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_wanted || m_stop; });
        if (!m_wanted)
            return;
        m_wanted = false;
        const int fd = m_fd;
        lock.unlock();
        sync(fd);
        lock.lock();
    }
}
