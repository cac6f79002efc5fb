#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Syncs what was written to a file to the disk, at most a set time after it was written, on a
// thread of its own: the caller hands its bytes to the operating system with write() and goes
// on, a slow disk never holds it up, and a power cut loses at most that time's writes.
//
// Used from one thread (the one that owns the object, which must run an event loop for the
// timer); the descriptor must stay open until stop() has returned.
class DeferredDiskSync : public QObject {
    Q_OBJECT
public:
    // startMs: how long after the first unsynced write the sync starts.
    explicit DeferredDiskSync(int startMs, QObject *parent = nullptr);
    ~DeferredDiskSync() override;

    // Follows the file descriptor from now on.
    void start(int fd);
    // Data was written: a sync starts within startMs.
    void written();
    // Syncs now and waits for the disk.
    void syncNow();
    // Stops following the descriptor; returns once a sync under way has ended. What was written
    // and not yet synced is synced first when syncPending is true.
    void stop(bool syncPending);

    bool isRunning() const { return m_thread.joinable(); }
    // Syncs done, for tests and benchmarks.
    int syncCount() const { return m_syncs.load(); }
    // The system's error number of the first sync that failed since start(), 0 when none did:
    // what was written may not be on the disk.
    int failure() const { return m_failure.load(); }

    // Syncs a descriptor's data to the disk now; 0, or the system's error number.
    static int syncDescriptor(int fd);

private:
    void requestSync();
    void run();
    void sync(int fd);

    QTimer m_timer;
    bool m_unsynced = false;
    int m_fd = -1;
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_wanted = false;
    bool m_stop = false;
    std::atomic<int> m_syncs{0};
    std::atomic<int> m_failure{0};
};
