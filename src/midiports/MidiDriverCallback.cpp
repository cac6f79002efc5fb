#include "MidiDriverCallback.h"

#include <new>

void PortMailbox::wake(unsigned bit) noexcept
{
    // Only the post that finds nothing pending queues an invocation; the window takes the
    // pending bits before it acts on them, so a later post is never left without one.
    if (m_pending.fetch_or(bit, std::memory_order_acq_rel) == 0)
        QMetaObject::invokeMethod(&m_window, &PortWindow::deliver, Qt::QueuedConnection);
}

void PortMailbox::post(std::uint32_t message, std::uintptr_t lParam) noexcept
{
    switch (message) {
    case MIM_DATA:
        wake(DataBit);
        break;
    case WM_USER:
        m_overflows.fetch_add(1, std::memory_order_release);
        wake(OverflowBit);
        break;
    case MOM_DONE: {
        TMyMidiHdr *header = TMyMidiHdr::owner(reinterpret_cast<const MIDIHDR *>(lParam));
        if (!header)
            return;
        TMyMidiHdr *head = m_done.load(std::memory_order_relaxed);
        do {
            header->doneNext = head;
        } while (!m_done.compare_exchange_weak(head, header, std::memory_order_release,
                                               std::memory_order_relaxed));
        wake(DoneBit);
        break;
    }
    default:
        break;
    }
}

std::deque<TMyMidiHdr *> PortMailbox::takeDone()
{
    std::deque<TMyMidiHdr *> done;
    for (TMyMidiHdr *h = m_done.exchange(nullptr, std::memory_order_acquire); h;) {
        TMyMidiHdr *next = h->doneNext;
        h->doneNext = nullptr;
        done.push_front(h); // the list is newest first
        h = next;
    }
    return done;
}

PortWindow::PortWindow(Handlers handlers, QObject *parent)
    : QObject(parent), m_handlers(std::move(handlers)), m_mailbox(std::make_unique<PortMailbox>(*this))
{
    setObjectName(QStringLiteral("MidiPortWindow"));
}

PortWindow::~PortWindow() = default;

std::deque<TMyMidiHdr *> PortWindow::takeUndelivered()
{
    std::deque<TMyMidiHdr *> all = std::move(m_doneDue);
    m_doneDue.clear();
    for (TMyMidiHdr *h : m_mailbox->takeDone())
        all.push_back(h);
    return all;
}

void PortWindow::deliver()
{
    const unsigned pending = m_mailbox->takePending();
    m_dataDue = m_dataDue || (pending & PortMailbox::DataBit);
    m_overflowsDue += m_mailbox->takeOverflows();
    for (TMyMidiHdr *h : m_mailbox->takeDone())
        m_doneDue.push_back(h);
    try {
        // In the order the driver posted them: a burst posts its stored events before the
        // overflows that follow them.
        if (m_dataDue) {
            m_dataDue = false;
            if (m_handlers.midiData)
                m_handlers.midiData();
        }
        while (m_overflowsDue > 0) {
            --m_overflowsDue;
            if (m_handlers.overflow)
                m_handlers.overflow();
        }
        while (!m_doneDue.empty()) {
            TMyMidiHdr *h = m_doneDue.front();
            m_doneDue.pop_front();
            if (m_handlers.done)
                m_handlers.done(h);
            else
                delete h;
        }
    } catch (...) {
        if (workLeft())
            QMetaObject::invokeMethod(this, &PortWindow::deliver, Qt::QueuedConnection);
        throw;
    }
}

TCallbackContext *CallbackContextCreate()
{
    HSHAREDBLOCK block = nullptr;
    void *memory = SharedBlockAlloc(sizeof(TCallbackContext), block);
    if (!memory)
        return nullptr;
    auto *context = new (memory) TCallbackContext;
    context->OwnBlock = block;
    return context;
}

void CallbackContextFree(TCallbackContext *context)
{
    if (!context)
        return;
    HSHAREDBLOCK block = context->OwnBlock;
    context->~TCallbackContext();
    SharedBlockFree(block);
}

void MidiDriverCallback(void *device, std::uint32_t message, std::uintptr_t instance,
                        std::uintptr_t param1, std::uintptr_t param2)
{
    (void)device;
    auto *context = reinterpret_cast<TCallbackContext *>(instance);
    if (!context)
        return;
    TRawMidiEvent event;
    switch (message) {
    case MIM_DATA:
        if (context->SysexOnly.load(std::memory_order_relaxed))
            return;
        event.Timestamp = static_cast<std::uint32_t>(param2);
        event.Data = static_cast<std::uint32_t>(param1);
        break;
    case MIM_LONGDATA:
    case MIM_LONGERROR: // an incomplete buffer reaches the program like a complete one
        event.Timestamp = static_cast<std::uint32_t>(param2);
        event.SysexHeader = reinterpret_cast<MIDIHDR *>(param1);
        break;
    case MOM_DONE:
        if (context->Window)
            context->Window->post(MOM_DONE, param1);
        return;
    default:
        return;
    }
    if (!context->Ring)
        return;
    const bool stored = EventRingPut(context->Ring, event);
    if (context->Window)
        context->Window->post(stored ? MIM_DATA : WM_USER, 0);
}
