// The event ring, the driver callback and the hidden window that carries the callback's posts
// to the user-interface thread.

#include "EventRing.h"
#include "MidiDriverCallback.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

TRawMidiEvent shortEvent(std::uint32_t n)
{
    TRawMidiEvent e;
    e.Timestamp = n * 10;
    e.Data = n;
    return e;
}

struct RingDeleter {
    void operator()(TEventRing *ring) const { EventRingFree(ring); }
};
using RingPtr = std::unique_ptr<TEventRing, RingDeleter>;

struct ContextDeleter {
    void operator()(TCallbackContext *context) const { CallbackContextFree(context); }
};
using ContextPtr = std::unique_ptr<TCallbackContext, ContextDeleter>;

// A hidden window whose handlers count what reaches the user-interface thread.
struct CountingWindow {
    int midiData = 0;
    int overflows = 0;
    std::vector<TMyMidiHdr *> done;
    PortWindow window{PortWindow::Handlers{
        [this] { ++midiData; },
        [this] { ++overflows; },
        [this](TMyMidiHdr *h) { done.push_back(h); },
    }};
};

void callback(TCallbackContext *context, std::uint32_t message, std::uintptr_t p1, std::uintptr_t p2)
{
    MidiDriverCallback(nullptr, message, reinterpret_cast<std::uintptr_t>(context), p1, p2);
}

} // namespace

class TestEventRing : public QObject {
    Q_OBJECT

private slots:
    void fullRingKeepsTheFirstEventsAndReportsTheLoss()
    {
        RingPtr ring(EventRingCreate(3));
        QVERIFY(ring);
        CountingWindow counting;
        ContextPtr context(CallbackContextCreate());
        context->Ring = ring.get();
        context->Window = &counting.window.mailbox();

        for (std::uint32_t n = 1; n <= 4; ++n)
            callback(context.get(), MIM_DATA, n, n * 10);

        QCOMPARE(ring->Count.load(), std::uint16_t(3));
        for (std::uint32_t n = 1; n <= 3; ++n) {
            TRawMidiEvent e;
            QVERIFY(EventRingPeek(ring.get(), e));
            QCOMPARE(e.Data, n);
            QCOMPARE(e.Timestamp, n * 10);
            QVERIFY(EventRingDrop(ring.get()));
        }
        QCOMPARE(ring->Count.load(), std::uint16_t(0));

        QCoreApplication::sendPostedEvents();
        QCOMPARE(counting.overflows, 1);
        QCOMPARE(counting.midiData, 1);
    }

    // Steps: a positive number puts that many events, a negative one takes that many.
    void interleavedPutsAndDropsWrapInArrivalOrder_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QList<int>>("steps");
        QTest::newRow("capacity 3, one at a time") << 3 << QList<int>{1, -1, 1, -1, 1, -1, 1, -1, 1, -1};
        QTest::newRow("capacity 3, fill and drain twice") << 3 << QList<int>{3, -3, 3, -3};
        QTest::newRow("capacity 3, half steps") << 3 << QList<int>{2, -1, 2, -2, 2, -1, 1, -3};
        QTest::newRow("capacity 1") << 1 << QList<int>{1, -1, 1, -1, 1, -1};
        QTest::newRow("capacity 5, uneven") << 5 << QList<int>{4, -3, 4, -2, 2, -5, 5, -5, 1, -1};
    }

    void interleavedPutsAndDropsWrapInArrivalOrder()
    {
        QFETCH(int, capacity);
        QFETCH(QList<int>, steps);
        RingPtr ring(EventRingCreate(std::uint16_t(capacity)));
        QVERIFY(ring);
        std::uint32_t nextPut = 1;
        std::uint32_t nextTake = 1;
        bool wrapped = false;
        for (int step : steps) {
            for (int i = 0; i < std::abs(step); ++i) {
                if (step > 0) {
                    QVERIFY(EventRingPut(ring.get(), shortEvent(nextPut++)));
                    wrapped = wrapped || ring->WritePos == ring->FirstSlot;
                } else {
                    TRawMidiEvent e;
                    QVERIFY(EventRingPeek(ring.get(), e));
                    QCOMPARE(e.Data, nextTake++);
                    QVERIFY(EventRingDrop(ring.get()));
                }
                QVERIFY(ring->ReadPos >= ring->FirstSlot && ring->ReadPos < ring->Limit);
                QVERIFY(ring->WritePos >= ring->FirstSlot && ring->WritePos < ring->Limit);
                QCOMPARE(int(ring->Count.load()), int(nextPut - nextTake));
            }
        }
        QVERIFY(wrapped);
        QCOMPARE(nextTake, nextPut);
    }

    void peekAndDropOnAnEmptyRingChangeNothing()
    {
        RingPtr ring(EventRingCreate(2));
        QVERIFY(ring);
        // Empty from the start, and empty again after a put and a drop.
        for (int round = 0; round < 2; ++round) {
            TRawMidiEvent e;
            e.Data = 0xDEAD;
            e.Timestamp = 77;
            QVERIFY(!EventRingPeek(ring.get(), e));
            QCOMPARE(e.Data, 0xDEADu);
            QCOMPARE(e.Timestamp, 77u);
            QVERIFY(!EventRingDrop(ring.get()));
            QCOMPARE(ring->Count.load(), std::uint16_t(0));
            QVERIFY(EventRingPut(ring.get(), shortEvent(5)));
            QVERIFY(EventRingDrop(ring.get()));
        }
    }

    void capacities_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::newRow("1") << 1;
        QTest::newRow("5461, the most a 16-bit block size holds") << 5461;
        QTest::newRow("5462") << 5462;
        QTest::newRow("65535") << 65535;
    }

    // Every capacity holds exactly that many events, and the ring's two blocks are freed.
    void capacities()
    {
        QFETCH(int, capacity);
        const int blocksBefore = SharedBlockCount();
        TEventRing *ring = EventRingCreate(std::uint16_t(capacity));
        QVERIFY(ring);
        QCOMPARE(SharedBlockCount(), blocksBefore + 2);
        QCOMPARE(int(ring->Capacity), capacity);
        QCOMPARE(ring->Limit - ring->FirstSlot, std::ptrdiff_t(capacity));
        for (int i = 0; i < capacity; ++i)
            QVERIFY(EventRingPut(ring, shortEvent(std::uint32_t(i))));
        QVERIFY(!EventRingPut(ring, shortEvent(0xFFFF)));
        QCOMPARE(int(ring->Count.load()), capacity);
        for (int i = 0; i < capacity; ++i) {
            TRawMidiEvent e;
            QVERIFY(EventRingPeek(ring, e));
            QCOMPARE(e.Data, std::uint32_t(i));
            QVERIFY(EventRingDrop(ring));
        }
        EventRingFree(ring);
        QCOMPARE(SharedBlockCount(), blocksBefore);
    }

    void capacityZeroGivesNoRing()
    {
        const int blocksBefore = SharedBlockCount();
        QVERIFY(!EventRingCreate(0));
        QCOMPARE(SharedBlockCount(), blocksBefore);
        EventRingFree(nullptr); // does nothing
    }

    void callbackRouting_data()
    {
        QTest::addColumn<std::uint32_t>("message");
        QTest::addColumn<bool>("sysexOnly");
        QTest::addColumn<bool>("withRing");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("posted");
        QTest::newRow("short message") << MIM_DATA << false << true << true << true;
        QTest::newRow("short message, sysex only") << MIM_DATA << true << true << false << false;
        QTest::newRow("sysex buffer") << MIM_LONGDATA << false << true << true << true;
        QTest::newRow("sysex buffer, sysex only") << MIM_LONGDATA << true << true << true << true;
        QTest::newRow("incomplete sysex buffer") << MIM_LONGERROR << false << true << true << true;
        QTest::newRow("short message, no ring") << MIM_DATA << false << false << false << false;
        QTest::newRow("sysex buffer, no ring") << MIM_LONGDATA << false << false << false << false;
        QTest::newRow("input opened") << MIM_OPEN << false << true << false << false;
        QTest::newRow("input closed") << MIM_CLOSE << false << true << false << false;
        QTest::newRow("invalid short message") << MIM_ERROR << false << true << false << false;
        QTest::newRow("more data") << MIM_MOREDATA << false << true << false << false;
        QTest::newRow("output opened") << MOM_OPEN << false << true << false << false;
    }

    void callbackRouting()
    {
        QFETCH(std::uint32_t, message);
        QFETCH(bool, sysexOnly);
        QFETCH(bool, withRing);
        QFETCH(bool, stored);
        QFETCH(bool, posted);

        RingPtr ring(EventRingCreate(4));
        CountingWindow counting;
        ContextPtr context(CallbackContextCreate());
        context->Ring = withRing ? ring.get() : nullptr;
        context->Window = &counting.window.mailbox();
        context->SysexOnly = sysexOnly;
        MIDIHDR header;
        const bool isLong = message == MIM_LONGDATA || message == MIM_LONGERROR;
        const std::uintptr_t param1 = isLong ? reinterpret_cast<std::uintptr_t>(&header) : 0x7F4090;

        callback(context.get(), message, param1, 1234);

        QCOMPARE(ring->Count.load(), std::uint16_t(stored ? 1 : 0));
        if (stored) {
            TRawMidiEvent e;
            QVERIFY(EventRingPeek(ring.get(), e));
            QCOMPARE(e.Timestamp, 1234u);
            QCOMPARE(e.Data, isLong ? 0u : 0x7F4090u);
            QCOMPARE(e.SysexHeader, isLong ? &header : nullptr);
        }
        QCoreApplication::sendPostedEvents();
        QCOMPARE(counting.midiData, posted ? 1 : 0);
        QCOMPARE(counting.overflows, 0);
        QVERIFY(counting.done.empty());
    }

    void outputCompletionReachesTheWindowInOrder()
    {
        CountingWindow counting;
        ContextPtr context(CallbackContextCreate()); // an output port's context: no ring
        context->Window = &counting.window.mailbox();
        TMyMidiHdr first(4), second(4);
        first.header()->dwUser = reinterpret_cast<std::uintptr_t>(&first);
        second.header()->dwUser = reinterpret_cast<std::uintptr_t>(&second);

        std::thread driver([&] {
            callback(context.get(), MOM_DONE, reinterpret_cast<std::uintptr_t>(first.header()), 0);
            callback(context.get(), MOM_DONE, reinterpret_cast<std::uintptr_t>(second.header()), 0);
        });
        driver.join();
        QVERIFY(counting.done.empty()); // nothing happens on the driver's thread

        QCoreApplication::sendPostedEvents();
        QCOMPARE(counting.done, (std::vector<TMyMidiHdr *>{&first, &second}));
        QCOMPARE(counting.midiData, 0);
    }

    // A burst from the driver costs one wake-up of the user-interface thread, not one per event.
    void oneWakeUpForABurst()
    {
        RingPtr ring(EventRingCreate(2000));
        CountingWindow counting;
        ContextPtr context(CallbackContextCreate());
        context->Ring = ring.get();
        context->Window = &counting.window.mailbox();
        std::thread driver([&] {
            for (std::uint32_t n = 0; n < 1000; ++n)
                callback(context.get(), MIM_DATA, 0x90, n);
        });
        driver.join();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(counting.midiData, 1);
        // After the window has taken the burst, the next event wakes it again.
        callback(context.get(), MIM_DATA, 0x90, 0);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(counting.midiData, 2);
    }

    // A handler that throws ends only its own call: what was still due is delivered later.
    void throwingHandlerLeavesTheRestForLater()
    {
        int overflows = 0;
        std::vector<TMyMidiHdr *> done;
        PortWindow window(PortWindow::Handlers{
            nullptr,
            [&] {
                if (++overflows == 1)
                    throw std::runtime_error("handler failed");
            },
            [&](TMyMidiHdr *h) {
                done.push_back(h);
                if (done.size() == 1)
                    throw std::runtime_error("handler failed");
            },
        });
        TMyMidiHdr first(1), second(1);
        first.header()->dwUser = reinterpret_cast<std::uintptr_t>(&first);
        second.header()->dwUser = reinterpret_cast<std::uintptr_t>(&second);
        for (int i = 0; i < 3; ++i)
            window.mailbox().post(WM_USER, 0);
        window.mailbox().post(MOM_DONE, reinterpret_cast<std::uintptr_t>(first.header()));
        window.mailbox().post(MOM_DONE, reinterpret_cast<std::uintptr_t>(second.header()));

        QVERIFY_THROWS_EXCEPTION(std::runtime_error, window.deliver());
        QCOMPARE(overflows, 1);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, QCoreApplication::sendPostedEvents());
        QCOMPARE(overflows, 3);
        QCOMPARE(done.size(), std::size_t(1));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(done, (std::vector<TMyMidiHdr *>{&first, &second}));
    }

    void stress_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<bool>("retryWhenFull");
        QTest::newRow("producer waits when full: nothing lost") << 1024 << true;
        QTest::newRow("producer drops when full: order kept") << 64 << false;
    }

    // One producer thread, the consumer on the test thread, a million events.
    void stress()
    {
        QFETCH(int, capacity);
        QFETCH(bool, retryWhenFull);
        constexpr std::uint32_t Events = 1'000'000;
        RingPtr ring(EventRingCreate(std::uint16_t(capacity)));
        std::atomic<bool> producerDone{false};
        std::atomic<std::uint32_t> dropped{0};

        std::thread producer([&] {
            std::uint32_t lost = 0;
            for (std::uint32_t n = 1; n <= Events; ++n) {
                while (!EventRingPut(ring.get(), shortEvent(n))) {
                    if (!retryWhenFull) {
                        ++lost;
                        break;
                    }
                    std::this_thread::yield();
                }
            }
            dropped = lost;
            producerDone = true;
        });

        std::uint32_t received = 0;
        std::uint32_t last = 0;
        bool inOrder = true;
        for (;;) {
            TRawMidiEvent e;
            if (EventRingPeek(ring.get(), e)) {
                // With waits nothing is skipped; with drops events may be missing, never reordered.
                inOrder = inOrder && (retryWhenFull ? e.Data == last + 1 : e.Data > last)
                          && e.Timestamp == e.Data * 10;
                last = e.Data;
                ++received;
                EventRingDrop(ring.get());
            } else if (producerDone.load()) {
                if (!EventRingPeek(ring.get(), e))
                    break;
            } else {
                std::this_thread::yield();
            }
        }
        producer.join();
        QVERIFY(inOrder);
        QCOMPARE(received + dropped.load(), Events);
        if (retryWhenFull)
            QCOMPARE(received, Events);
        QCOMPARE(ring->Count.load(), std::uint16_t(0));
    }
};

QTEST_GUILESS_MAIN(TestEventRing)
#include "tst_midiports_ring.moc"
