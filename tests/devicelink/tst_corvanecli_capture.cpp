// corvane-cli capture run in this process on the loopback MIDI service: a capture stopped by a
// signal ends with status 0 only when nothing was lost; events that found the input's buffers full
// make it 1, and the rows kept are the events that came first. Its rows can go to a device or a
// pipe as well as to a file.

#include "CliCommands.h"
#include "DeviceLinkFixtures.h"
#include "LoopbackMidiService.h"
#include "MidiService.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace DeviceLinkFixtures;

class TestCorvaneCliCapture : public QObject {
    Q_OBJECT

private slots:
    void statusAfterLostEvents_data()
    {
        QTest::addColumn<int>("events");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("status");
        // The capture's input queues 2,048 System Exclusive buffers: events that arrive while all
        // of them wait for the drain are lost.
        QTest::newRow("nothing lost") << 2048 << 2048 << 0;
        QTest::newRow("events lost") << 2100 << 2048 << 1;
    }

    // Onto /dev/null and into a pipe that another program reads: every row goes out, and the
    // capture ends with status 0 (no seek, no cut, no disk sync on what is not a file).
    void rowsToADeviceOrAPipe_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("/dev/null") << false;
        QTest::newRow("a FIFO that is read") << true;
    }

    void rowsToADeviceOrAPipe()
    {
        QFETCH(bool, pipe);
        constexpr int Events = 300;
        QTemporaryDir dir;
        QString output = QStringLiteral("/dev/null");
        int reader = -1;
        if (pipe) {
            output = dir.filePath(QStringLiteral("rows.fifo"));
            QVERIFY(::mkfifo(QFile::encodeName(output).constData(), 0600) == 0);
            reader = ::open(QFile::encodeName(output).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
        }
        QByteArray read;
        const auto drain = [&] {
            char chunk[4096];
            for (ssize_t n; reader >= 0 && (n = ::read(reader, chunk, sizeof chunk)) > 0;)
                read.append(chunk, n);
        };
        LoopbackMidiService service;
        service.setClockMs(0);
        service.addInput(QStringLiteral("Orvex in"));
        MidiService *const previous = setMidiService(&service);
        QObject sending; // a capture that ends before its event loop runs sends nothing later
        const QByteArray event = hex("F07E00240601001023451200F7");
        QTimer::singleShot(0, &sending, [&] {
            for (int n = 0; n < Events; ++n)
                service.send(0, event);
        });
        // Rows to /dev/null cannot be counted: the capture is given a second for them.
        QTimer watch;
        QElapsedTimer waited;
        waited.start();
        connect(&watch, &QTimer::timeout, [&] {
            drain();
            if ((pipe && read.count('\n') >= Events) || waited.elapsed() > (pipe ? 20000 : 1000))
                std::raise(SIGTERM);
        });
        watch.start(20);
        const int exitStatus = runCaptureCommand({QStringLiteral("capture"), QStringLiteral("--in"), QStringLiteral("Orvex in"), QStringLiteral("-o"), output});
        watch.stop();
        setMidiService(previous);
        drain();
        if (reader >= 0)
            ::close(reader);

        QCOMPARE(exitStatus, 0);
        if (pipe) {
            const QList<QByteArray> lines = read.split('\n');
            QCOMPARE(lines.size() - 1, Events);
            for (int n = 0; n < Events; ++n)
                QCOMPARE(lines[n], QStringLiteral("%1,0001,10:23:45:12,10:23:45:12,\r").arg(n + 1, 4, 10, QLatin1Char('0')).toLatin1());
        }
    }

    void statusAfterLostEvents()
    {
        QFETCH(int, events);
        QFETCH(int, rows);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("show.gpo"));
        LoopbackMidiService service;
        service.setClockMs(0);
        service.addInput(QStringLiteral("Orvex in"));
        MidiService *const previous = setMidiService(&service);
        QObject sending; // a capture that ends before its event loop runs sends nothing later

        // All events arrive before the capture drains any: they are sent in one turn of its
        // event loop. Once the file holds what can be kept, SIGTERM ends the capture.
        const QByteArray event = hex("F07E00240601001023451200F7");
        int sent = 0;
        QTimer::singleShot(0, &sending, [&] {
            for (int n = 0; n < events; ++n)
                sent += service.send(0, event) ? 1 : 0;
        });
        QTimer watch;
        QElapsedTimer waited;
        waited.start();
        connect(&watch, &QTimer::timeout, [&] {
            if (TestFiles::read(file).count('\n') >= rows || waited.elapsed() > 20000)
                std::raise(SIGTERM);
        });
        watch.start(20);
        const int exitStatus = runCaptureCommand({QStringLiteral("capture"), QStringLiteral("--in"), QStringLiteral("Orvex in"), QStringLiteral("-o"), file});
        watch.stop();
        setMidiService(previous);

        QCOMPARE(sent, events);
        QCOMPARE(exitStatus, status);
        const QList<QByteArray> lines = TestFiles::read(file).split('\n');
        QCOMPARE(lines.size() - 1, rows);
        for (int n = 0; n < rows; ++n)
            QCOMPARE(lines[n], QStringLiteral("%1,0001,10:23:45:12,10:23:45:12,\r").arg(n + 1, 4, 10, QLatin1Char('0')).toLatin1());
    }
};

QTEST_GUILESS_MAIN(TestCorvaneCliCapture)
#include "tst_corvanecli_capture.moc"
