#pragma once

#include "EventRing.h"
#include "MidiBuffers.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

// Posted by the driver callback when the ring was full and an event was dropped.
inline constexpr std::uint32_t WM_USER = 0x400;

class PortWindow;

// The driver side of a port's hidden window: what the driver callback posts waits here, in
// atomics and a lock-free list, until the window takes it on the user-interface thread. The
// first post after the window has taken everything queues one invocation of the window; later
// posts ride along with it. Nothing here blocks, and nothing is allocated per event (Qt
// allocates one small event per wake-up).
class PortMailbox {
public:
    explicit PortMailbox(PortWindow &window) : m_window(window) {}

    // Driver thread (any thread). MIM_DATA: events wait in the ring; WM_USER: one event was
    // dropped; MOM_DONE: lParam is the MIDIHDR of a finished long message, whose dwUser holds
    // its TMyMidiHdr. Other messages are ignored.
    void post(std::uint32_t message, std::uintptr_t lParam) noexcept;

    // User-interface thread.
    static constexpr unsigned DataBit = 1;
    static constexpr unsigned OverflowBit = 2;
    static constexpr unsigned DoneBit = 4;
    unsigned takePending() { return m_pending.exchange(0, std::memory_order_acq_rel); }
    std::uint32_t takeOverflows() { return m_overflows.exchange(0, std::memory_order_acquire); }
    // Finished headers, oldest first.
    std::deque<TMyMidiHdr *> takeDone();

private:
    void wake(unsigned bit) noexcept;

    PortWindow &m_window;
    std::atomic<unsigned> m_pending{0};
    std::atomic<std::uint32_t> m_overflows{0};
    std::atomic<TMyMidiHdr *> m_done{nullptr}; // newest first, linked by doneNext
};

// A port's hidden window: a QObject on the user-interface thread that turns what the driver
// posted into the port's handlers. If a handler throws, what is left is delivered by a later
// invocation, and the exception goes on to the application's error handler.
class PortWindow final : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void()> midiData;           // MIM_DATA (once for any number of posts)
        std::function<void()> overflow;           // WM_USER (once per dropped event)
        std::function<void(TMyMidiHdr *)> done;   // MOM_DONE; the handler owns the header
    };

    explicit PortWindow(Handlers handlers, QObject *parent = nullptr);
    ~PortWindow() override;

    PortMailbox &mailbox() { return *m_mailbox; }

    // Finished headers not yet handed to the done handler; the caller owns them.
    std::deque<TMyMidiHdr *> takeUndelivered();

public slots:
    void deliver();

private:
    bool workLeft() const { return m_dataDue || m_overflowsDue > 0 || !m_doneDue.empty(); }

    Handlers m_handlers;
    std::unique_ptr<PortMailbox> m_mailbox;
    bool m_dataDue = false;
    std::uint32_t m_overflowsDue = 0;
    std::deque<TMyMidiHdr *> m_doneDue;
};

// The instance data a port gives the driver when it opens a device.
struct TCallbackContext {
    HSHAREDBLOCK OwnBlock = nullptr;
    TEventRing *Ring = nullptr;            // the input port's ring; null for the output port
    PortMailbox *Window = nullptr;         // where the callback posts
    std::atomic<bool> SysexOnly{false};    // written by the port while open: drop short messages
};

// A new zeroed context in a shared block, or null.
TCallbackContext *CallbackContextCreate();
void CallbackContextFree(TCallbackContext *context); // nothing for null

// The driver callback of both ports (instance = the TCallbackContext). Runs on the driver's
// thread: copies one event into the ring and posts, takes no lock and allocates nothing.
void MidiDriverCallback(void *device, std::uint32_t message, std::uintptr_t instance,
                        std::uintptr_t param1, std::uintptr_t param2);
