// Live input never waits for the operator or for long work: with the two windows joined as the
// program joins them, on the loopback MIDI service (the whole path from the device through the
// input relay, the port's ring and the device link's drain), switches that arrive while a capture
// file loads follow the loaded rows, and a GPO8 trigger's replace question is asked outside the
// drain, so that the input goes on draining under it.

#include "Clock.h"
#include "EdlFile.h"
#include "DialogScript.h"
#include "ErrorReport.h"
#include "LoopbackMidiService.h"
#include "MidiIn.h"
#include "MidiOut.h"
#include "OrvexSim.h"
#include "ProgramWindows.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "WorkProgress.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QByteArray captureEvent(std::uint16_t mask, const QString &timecode)
{
    const OrvexSim::Message message = OrvexSim::captureEvent(mask, *OrvexSim::parseTimecode(timecode, 25));
    return QByteArray(reinterpret_cast<const char *>(message.data()), qsizetype(message.size()));
}

// The row a capture event becomes, without its item number.
QString rowText(std::uint16_t mask, const QString &timecode)
{
    return QStringLiteral("%1,%2,%2,").arg(mask, 4, 16, QLatin1Char('0')).arg(timecode).toUpper();
}

// The rows of a list, each without its item number.
QStringList rowsOf(const CaptureList &list)
{
    QStringList rows;
    for (int r = 0; r < list.count(); ++r) {
        const CaptureList::RowTexts t = list.rowTexts(r);
        rows << QStringList{t.camera, t.reader, t.generator, t.comment}.join(QLatin1Char(','));
    }
    return rows;
}

// The cameras of the k-th switch sent: one of cameras 1 to 7 (camera 8 is the GPO8 trigger).
std::uint16_t maskOf(int k)
{
    return std::uint16_t(1u << (k % 7));
}

const QDateTime Moment(QDate(2008, 11, 23), QTime(14, 30, 5));

QString timecodeOf(int n)
{
    return QString::asprintf("11:%02d:%02d:%02d", n / 1500 % 60, n / 25 % 60, n % 25);
}

} // namespace

class TestLiveInput : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<ProgramWindows> m_windows;
    QStringList m_errors;
    FixedClock m_clock{Moment};

    // The windows, with the input and output open through the device window's boxes.
    bool openWindows()
    {
        m_windows = std::make_unique<ProgramWindows>();
        if (!m_windows->open())
            return false;
        return m_windows->openDevices();
    }

    // Sends n capture events numbered from first (cameras maskOf) and waits until the
    // list has taken them; false when they never came.
    bool sendEvents(int first, int n)
    {
        const CaptureList &list = m_windows->edlf().captureList();
        const int count = list.count() + n;
        for (int k = first; k < first + n; ++k) {
            if (!m_windows->midi().send(0, captureEvent(maskOf(k), timecodeOf(k))))
                return false;
        }
        return QTest::qWaitFor([&] { return list.count() == count; }, 10000);
    }

    static QStringList eventRows(int first, int n)
    {
        QStringList rows;
        for (int k = first; k < first + n; ++k)
            rows << rowText(maskOf(k), timecodeOf(k));
        return rows;
    }

private slots:
    void initTestCase()
    {
        setErrorPresenter([this](const QString &message) { m_errors << message; });
        setAppClock(&m_clock);
    }

    void cleanupTestCase()
    {
        setErrorPresenter({});
        setAppClock(nullptr);
    }

    void init()
    {
        m_errors.clear();
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        WorkProgress::setShowAfterMs(WorkProgress::ShowAfterMs);
        m_windows.reset();
        m_folder.reset();
    }

    // Rows that arrive while a capture file loads are appended after the file's rows; the rows
    // before the load go (Undo brings them back, in front of the ones that came meanwhile).
    void switchesDuringALoadFollowTheLoadedRows()
    {
        QStringList file;
        QByteArray fileText;
        for (int r = 1; r <= 20000; ++r) {
            file << QStringLiteral("0001,09:00:00:00,09:00:00:00,");
            fileText += QStringLiteral("%1,").arg(r, 4, 10, QLatin1Char('0')).toLatin1() + file.last().toLatin1() + "\r\n";
        }
        const QString gpo = m_folder->file(QStringLiteral("big.gpo"));
        QVERIFY(TestFiles::write(gpo, fileText));

        QVERIFY(openWindows());
        Tedlf &edlf = m_windows->edlf();
        QVERIFY(sendEvents(0, 2));
        const QStringList before = rowsOf(edlf.captureList());

        // The bar shows at once, so the load lets events through from its first step; there the
        // device sends 40 switches, which the window takes while the load goes on.
        WorkProgress::setShowAfterMs(0);
        bool duringLoad = false;
        bool taken = false;
        QTimer::singleShot(0, this, [&] {
            duringLoad = WorkProgress::running();
            taken = sendEvents(2, 40);
        });
        edlf.LoadGpoFile(gpo);
        QVERIFY(duringLoad);
        QVERIFY(taken);

        const QStringList arrived = eventRows(2, 40);
        const QStringList rows = rowsOf(edlf.captureList());
        QCOMPARE(rows.size(), file.size() + arrived.size());
        QCOMPARE(rows.first(file.size()), file);
        QCOMPARE(rows.mid(file.size()), arrived);
        QVERIFY(edlf.Undo1->isEnabled());
        edlf.Undo1->trigger();
        QCOMPARE(rowsOf(edlf.captureList()), before + arrived);
        QCOMPARE(m_windows->midiiof().MidiInput1->LostCount(), 0u);
        QCOMPARE(m_errors, QStringList());
    }

    // A GPO8 trigger from the device runs its make-and-save outside the device link's drain:
    // while its replace question is open, running timecode and switches go on being drained
    // (far more than the input's ring holds), none is lost, and the switches stay in the list
    // after the rows saved.
    void gpo8ReplaceQuestionLeavesTheInputDraining()
    {
        const QString edlFolder = m_folder->file(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(edlFolder));
        m_folder->presetCurrent({{"GPO8", "1"}, {"edlpath", edlFolder}});
        QVERIFY(openWindows());
        Tedlf &edlf = m_windows->edlf();
        LoopbackMidiService &midi = m_windows->midi();
        const std::uint16_t ringCapacity = m_windows->midiiof().MidiInput1->Capacity();

        QVERIFY(sendEvents(0, 4));
        // The trigger's file is there already: the make-and-save asks to replace it.
        QVERIFY(TestFiles::write(EdlFile::autoSavePath(QStringLiteral("show"), edlFolder, Moment), "old\r\n"));
        DialogScript dialogs;
        int drainedUnderTheQuestion = 0;
        constexpr int QuarterFrames = 99;
        // More than the input's ring holds, ten times over the chunk.
        const int Chunks = ringCapacity / (QuarterFrames + 1) + 10;
        dialogs.then(DialogScript::during(
            [&] {
                // Chunk after chunk of quarter frames and one switch: each is drained before the
                // next goes, so only a drain stopped under the question could lose any.
                for (int chunk = 0; chunk < Chunks; ++chunk) {
                    for (int q = 0; q < QuarterFrames; ++q)
                        midi.send(0, QByteArray::fromHex("F1") + char((q % 8) << 4));
                    if (!sendEvents(100 + chunk, 1))
                        return;
                    drainedUnderTheQuestion = chunk + 1;
                }
            },
            DialogScript::ok()));
        QVERIFY(midi.send(0, captureEvent(0x0080, QStringLiteral("11:59:00:00"))));
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.shown().size(), 1, 10000);
        QTRY_VERIFY(!edlf.gpo8TriggerWaiting());
        QVERIFY2(dialogs.seen() == QStringList({"Replace|show_81123-1430_05.edl Exists Replace ?"}),
                 qPrintable(dialogs.seen().join(QLatin1Char('\n'))));
        QCOMPARE(drainedUnderTheQuestion, Chunks);
        QVERIFY(Chunks * (QuarterFrames + 1) > ringCapacity);
        // The file holds the four rows before the trigger; the switches of the question stay,
        // after the row that puts the camera on air at the end of the file on again.
        const QByteArray saved = TestFiles::read(EdlFile::autoSavePath(QStringLiteral("show"), edlFolder, Moment));
        QVERIFY2(saved.startsWith("TITLE:"), saved.constData());
        QCOMPARE(rowsOf(edlf.captureList()), eventRows(3, 1) + eventRows(100, Chunks));
        QCOMPARE(m_windows->midiiof().MidiInput1->LostCount(), 0u);
        QCOMPARE(m_errors, QStringList());
    }
};

QTEST_MAIN(TestLiveInput)
#include "tst_live_input.moc"
