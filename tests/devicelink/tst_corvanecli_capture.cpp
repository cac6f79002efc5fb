// corvane-cli capture run in this process on the loopback MIDI service: a capture stopped by a
// signal ends with status 0 only when nothing was lost; events that found the input's buffers full
// make it 1, and the rows kept are the events that came first; so does a late MIDI server, which
// may have dropped events unseen. Its rows can go to a device or a
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
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace DeviceLinkFixtures;


namespace {

// Runs `corvane-cli capture --in "Orvex in" -o output` on a loopback input, which gets the events
// all in one turn of the capture's event loop (before it drains any). Once done() says so, or
// after timeoutMs, SIGTERM ends the capture. Returns its exit status; *sent: the events the input
// took.
int runCapture(const QString &output, int events, int *sent, const std::function<bool()> &done, int timeoutMs,
               std::uint64_t late = 0)
{
    LoopbackMidiService service;
    service.setClockMs(0);
    service.addInput(QStringLiteral("Orvex in"));
    MidiService *const previous = setMidiService(&service);
    QObject sending; // a capture that ends before its event loop runs sends nothing later
    const QByteArray event = hex("F07E00240601001023451200F7");
    QTimer::singleShot(0, &sending, [&] {
        for (int n = 0; n < events; ++n)
            *sent += service.send(0, event) ? 1 : 0;
        if (late > 0)
            service.reportLateCycles(late);
    });
    QTimer watch;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (done() || waited.elapsed() > timeoutMs)
            std::raise(SIGTERM);
    });
    watch.start(20);
    const int status = runCaptureCommand({QStringLiteral("capture"), QStringLiteral("--in"), QStringLiteral("Orvex in"),
                                          QStringLiteral("-o"), output});
    setMidiService(previous);
    return status;
}

// The capture lines of the first `rows` events, numbered from 1, or why not.
QString rowsDiffer(const QByteArray &written, int rows)
{
    const QList<QByteArray> lines = written.split('\n');
    if (lines.size() - 1 != rows)
        return QStringLiteral("%1 rows, not %2").arg(lines.size() - 1).arg(rows);
    for (int n = 0; n < rows; ++n) {
        const QByteArray expected = QStringLiteral("%1,0001,10:23:45:12,10:23:45:12,\r").arg(n + 1, 4, 10, QLatin1Char('0')).toLatin1();
        if (lines[n] != expected)
            return QStringLiteral("row %1 is \"%2\"").arg(n + 1).arg(QString::fromLatin1(lines[n]));
    }
    return QString();
}

} // namespace

class TestCorvaneCliCapture : public QObject {
    Q_OBJECT

private slots:
    void statusAfterLostEvents_data()
    {
        QTest::addColumn<int>("events");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("late");
        // The capture's input queues 2,048 System Exclusive buffers: events that arrive while all
        // of them wait for the drain are lost.
        QTest::newRow("nothing lost") << 2048 << 2048 << 0 << 0;
        QTest::newRow("events lost") << 2100 << 2048 << 1 << 0;
        // The MIDI server may have dropped events before the input saw them.
        QTest::newRow("MIDI server late") << 10 << 10 << 1 << 2;
    }

    void statusAfterLostEvents()
    {
        QFETCH(int, events);
        QFETCH(int, rows);
        QFETCH(int, status);
        QFETCH(int, late);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("show.gpo"));
        int sent = 0;
        const int exitStatus = runCapture(file, events, &sent, [&] { return TestFiles::read(file).count('\n') >= rows; },
                                          20000, std::uint64_t(late));
        QCOMPARE(sent, events);
        QCOMPARE(exitStatus, status);
        const QString differ = rowsDiffer(TestFiles::read(file), rows);
        QVERIFY2(differ.isEmpty(), qPrintable(differ));
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
        // Rows to /dev/null cannot be counted: the capture is given a second for them.
        int sent = 0;
        const int exitStatus = runCapture(output, Events, &sent, [&] { return drain(), pipe && read.count('\n') >= Events; },
                                          pipe ? 20000 : 1000);
        drain();
        if (reader >= 0)
            ::close(reader);
        QCOMPARE(sent, Events);
        QCOMPARE(exitStatus, 0);
        if (pipe) {
            const QString differ = rowsDiffer(read, Events);
            QVERIFY2(differ.isEmpty(), qPrintable(differ));
        }
    }
};

QTEST_GUILESS_MAIN(TestCorvaneCliCapture)
#include "tst_corvanecli_capture.moc"
