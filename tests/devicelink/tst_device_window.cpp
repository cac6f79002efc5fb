// The MIDI device window over the loopback MIDI service, offscreen: start-up with the
// remembered devices and "midiio.ini", the "Open" boxes and device lists, the revision query
// and the "LTC" button, and received events reaching the memos, labels and capture sink.

#include "AppPaths.h"
#include "DeviceLinkFixtures.h"
#include "ErrorReport.h"
#include "Errors.h"
#include "IniStore.h"
#include "LoopbackMidiService.h"
#include "MidiIn.h"
#include "MidiOut.h"
#include "TestFiles.h"
#include "DeviceWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace DeviceLinkFixtures;

namespace {

const QByteArray RevisionQuery = hex("F07E001100F7");

QStringList memoLines(const QPlainTextEdit *memo)
{
    const QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QByteArray midiioIni(const QString &input, const QString &output)
{
    QByteArray text = "[midiio]\r\n";
    if (!input.isNull())
        text += "midiin=" + input.toLatin1() + "\r\n";
    if (!output.isNull())
        text += "midiout=" + output.toLatin1() + "\r\n";
    return text;
}

} // namespace

class TestMidiiou : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LoopbackMidiService> m_service;
    std::unique_ptr<Tmidiiof> m_window;
    std::unique_ptr<RecordingMonitor> m_sink;
    QStringList m_errors; // what reached the general error handler

    QString iniPath() const { return m_dir->filePath(QStringLiteral("midiio.ini")); }

    // The window over input and output devices of these names (device numbers in list order).
    Tmidiiof &make(const QStringList &inputs, const QStringList &outputs)
    {
        for (const QString &name : inputs)
            m_service->addInput(name);
        for (const QString &name : outputs)
            m_service->addOutput(name);
        m_window = std::make_unique<Tmidiiof>(*m_service);
        m_window->setCaptureSink(m_sink.get());
        return *m_window;
    }

    // Opens input 0 and output 0 through the boxes, as the operator does.
    void openBoth(Tmidiiof &w)
    {
        w.MidiInputSelectEnter();
        w.MidiOutputselectEnter();
        w.MidiInputSelect->setCurrentIndex(0);
        w.OpenIn->setChecked(true);
        w.MidiOutputselect->setCurrentIndex(0);
        w.OpenOut->setChecked(true);
        QCOMPARE(w.MidiInput1->State(), psOpen);
        QCOMPARE(w.MidiOutput1->State(), psOpen);
        // The opening that made both open asked for the revision; the tests start from nothing.
        QCOMPARE(m_service->output(0), QList<QByteArray>{RevisionQuery});
        m_service->clearOutput(0);
        w.vmout->clear();
    }

    void send(const QByteArray &bytes) { QVERIFY(m_service->send(0, bytes)); }

private slots:
    void initTestCase()
    {
        setErrorPresenter([this](const QString &message) { m_errors << message; });
    }

    void cleanupTestCase() { setErrorPresenter({}); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        AppPaths::setProgramFolder(m_dir->path());
        // A portable program: midiio.ini beside it.
        QVERIFY(TestFiles::write(m_dir->filePath(AppPaths::executableFileName() + QStringLiteral(".def")), "[App]\r\n"));
        m_service = std::make_unique<LoopbackMidiService>();
        m_service->setClockMs(0);
        m_sink = std::make_unique<RecordingMonitor>();
        m_errors.clear();
    }

    void cleanup()
    {
        m_window.reset();
        m_sink.reset();
        m_service.reset();
        AppPaths::setProgramFolder(QString());
        m_dir.reset();
    }

    // --- The window ----------------------------------------------------------------------------

    void createdHiddenWithItsControls()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        QVERIFY(!w.isVisible());
        QCOMPARE(w.objectName(), QStringLiteral("midiiof"));
        QCOMPARE(w.windowTitle(), QStringLiteral("midiiof"));
        // At least its designed size, more where the font in use needs room for the texts; below
        // the controls, the line about the MIDI system.
        QVERIFY(w.width() >= Tmidiiof::DesignClientWidth);
        QVERIFY(w.midiSystem->y() >= Tmidiiof::DesignClientHeight);
        QVERIFY(w.rect().contains(w.midiSystem->geometry()));
        QCOMPARE(w.tcpoz->text(), QStringLiteral("00:00:00:00"));
        QCOMPARE(w.Button2->text(), QStringLiteral("LTC"));
        QCOMPARE(w.Button1->text(), QStringLiteral("OK"));
        QCOMPARE(w.GroupBox3->title(), QStringLiteral("Midi Output"));
        QCOMPARE(w.GroupBox4->title(), QStringLiteral("Midi Input"));
        QCOMPARE(w.Revision->title(), QStringLiteral("Revision"));
        QCOMPARE(w.revtext->text(), QStringLiteral("revtext"));
        QCOMPARE(w.revtext2->text(), QStringLiteral("revtext"));
        QCOMPARE(w.mtccount->text(), QStringLiteral("00"));
        QCOMPARE(w.mmccount->text(), QStringLiteral("00"));
        QCOMPARE(w.Label1->text(), QStringLiteral("MTC"));
        // Every control is found by its name.
        for (const char *name : {"tcpoz", "Button2", "MidiOutputselect", "OpenOut", "MidiInputSelect", "OpenIn",
                                 "Revision", "revtext", "revtext2", "Button1", "vmout", "vmin", "m8data", "mtccount",
                                 "mmccount", "MidiInput1", "MidiOutput1"})
            QVERIFY2(w.findChild<QObject *>(QLatin1String(name)), name);
        QCOMPARE(w.MidiInput1->SysexBufferSize(), std::uint16_t(4096));
        // Both ports closed until a box is checked; the lists are empty until entered.
        QCOMPARE(w.MidiInput1->State(), psClosed);
        QCOMPARE(w.MidiOutput1->State(), psClosed);
        QCOMPARE(w.MidiInputSelect->count(), 0);
        QVERIFY(!w.testAttribute(Qt::WA_QuitOnClose));
    }

    // --- Start-up --------------------------------------------------------------------------------

    void startUp_data()
    {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QStringList>("outputs");
        QTest::addColumn<QByteArray>("ini"); // empty: no file
        QTest::addColumn<int>("openInput");  // index selected and opened, -1: none
        QTest::addColumn<int>("openOutput");
        QTest::addColumn<bool>("query");

        const QStringList ins{"Synth in", "Orvex in"};
        const QStringList outs{"Orvex out", "Synth out"};
        QTest::newRow("first run, no midiio.ini") << ins << outs << QByteArray() << -1 << -1 << false;
        QTest::newRow("both remembered") << ins << outs << midiioIni("Orvex in", "Orvex out") << 1 << 0 << true;
        QTest::newRow("letter case ignored") << ins << outs << midiioIni("ORVEX IN", "orvex OUT") << 1 << 0 << true;
        QTest::newRow("input only") << ins << outs << midiioIni("Orvex in", QString()) << 1 << -1 << false;
        QTest::newRow("output only") << ins << outs << midiioIni(QString(), "Synth out") << -1 << 1 << false;
        QTest::newRow("remembered input unplugged")
            << QStringList{"Synth in"} << outs << midiioIni("Orvex in", "Orvex out") << -1 << 0 << false;
        QTest::newRow("two devices of one name: the first")
            << QStringList{"Synth in", "Orvex", "Orvex"} << QStringList{"Orvex", "Orvex"} << midiioIni("Orvex", "Orvex")
            << 1 << 0 << true;
    }

    void startUp()
    {
        QFETCH(QStringList, inputs);
        QFETCH(QStringList, outputs);
        QFETCH(QByteArray, ini);
        QFETCH(int, openInput);
        QFETCH(int, openOutput);
        QFETCH(bool, query);
        if (!ini.isEmpty())
            QVERIFY(TestFiles::write(iniPath(), ini));

        Tmidiiof &w = make(inputs, outputs);
        w.StartDevices();

        QCOMPARE(w.iniPath(), iniPath());
        QStringList listed;
        for (int i = 0; i < w.MidiInputSelect->count(); ++i)
            listed << w.MidiInputSelect->itemText(i);
        QCOMPARE(listed, inputs);
        QCOMPARE(w.MidiOutputselect->count(), outputs.size());
        QCOMPARE(w.MidiInputSelect->currentIndex(), openInput);
        QCOMPARE(w.MidiOutputselect->currentIndex(), openOutput);
        QCOMPARE(w.OpenIn->isChecked(), openInput >= 0);
        QCOMPARE(w.OpenOut->isChecked(), openOutput >= 0);
        QCOMPARE(w.MidiInput1->State(), openInput >= 0 ? psOpen : psClosed);
        QCOMPARE(w.MidiOutput1->State(), openOutput >= 0 ? psOpen : psClosed);
        if (openInput >= 0)
            QCOMPARE(w.MidiInput1->DeviceID(), std::uint16_t(openInput));
        if (openOutput >= 0)
            QCOMPARE(w.MidiOutput1->DeviceID(), openOutput);
        // An open device's list cannot be changed.
        QCOMPARE(w.MidiInputSelect->isEnabled(), openInput < 0);
        QCOMPARE(w.MidiOutputselect->isEnabled(), openOutput < 0);

        // Exactly one revision query, listed and sent, when both are open.
        QCOMPARE(memoLines(w.vmout), query ? QStringList{" F0 7E 00 11 00 F7 "} : QStringList());
        if (openOutput >= 0)
            QCOMPARE(m_service->output(openOutput), query ? QList<QByteArray>{RevisionQuery} : QList<QByteArray>());
        // The file is only ever written by opening a device: the first run leaves none.
        if (ini.isEmpty())
            QVERIFY(!QFile::exists(iniPath()));
        QVERIFY(m_errors.isEmpty());
    }

    // Shown again (here: shown for the first time), the window refills the lists, selects the
    // remembered names again and asks for the revision again, but does not open the ports again
    // (an open now would fail and uncheck its box).
    // Whether there is a MIDI system to open devices from, and if not what to start, is shown
    // when the lists are filled; it follows the service's answer, also when a server comes later.
    void showsTheMidiSystem()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        const MidiSystemStatus none{false, QStringLiteral("No MIDI system: no JACK server running. Start one.")};
        m_service->setMidiSystemStatus(none);
        w.StartDevices();
        QCOMPARE(w.midiSystem->text(), none.text);
        const QColor warning = w.midiSystem->palette().color(QPalette::WindowText);

        const MidiSystemStatus jack{true, QStringLiteral("MIDI system: JACK server \"default\"")};
        m_service->setMidiSystemStatus(jack);
        QFocusEvent entering(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(w.MidiInputSelect, &entering);
        QCOMPARE(w.midiSystem->text(), jack.text);
        QVERIFY(w.midiSystem->palette().color(QPalette::WindowText) != warning);
    }

    void showingAgainQueriesWithoutReopening()
    {
        QVERIFY(TestFiles::write(iniPath(), midiioIni("Orvex in", "Orvex out")));
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        w.StartDevices();
        QCOMPARE(m_service->output(0).size(), 1);
        m_service->failCall(MidiCall::InOpen, MMSYSERR_ALLOCATED);
        m_service->failCall(MidiCall::OutOpen, MMSYSERR_ALLOCATED);

        w.show();
        QCOMPARE(m_service->output(0), (QList<QByteArray>{RevisionQuery, RevisionQuery}));
        QCOMPARE(memoLines(w.vmout).size(), 2);
        QVERIFY(w.OpenIn->isChecked());
        QVERIFY(w.OpenOut->isChecked());
        QCOMPARE(w.MidiInput1->State(), psOpen);
        QCOMPARE(w.MidiOutput1->State(), psOpen);
        QCOMPARE(w.MidiInputSelect->currentIndex(), 0);

        // "OK" hides the window and leaves the ports as they are.
        QTest::mouseClick(w.Button1, Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.MidiInput1->State(), psOpen);
        QCOMPARE(w.MidiOutput1->State(), psOpen);
        m_service->clearFailures();
        QVERIFY(m_errors.isEmpty());
    }

    // --- The "Open" boxes ------------------------------------------------------------------------

    // Opening writes the device's key right after the open; closing leaves the file alone.
    void openingWritesOnlyItsKey_data()
    {
        QTest::addColumn<bool>("input");
        QTest::newRow("input") << true;
        QTest::newRow("output") << false;
    }

    void openingWritesOnlyItsKey()
    {
        QFETCH(bool, input);
        Tmidiiof &w = make({"Synth in", "Orvex in"}, {"Synth out", "Orvex out"});
        QComboBox *list = input ? w.MidiInputSelect : w.MidiOutputselect;
        QCheckBox *box = input ? w.OpenIn : w.OpenOut;
        auto state = [&] { return input ? w.MidiInput1->State() : w.MidiOutput1->State(); };
        input ? w.MidiInputSelectEnter() : w.MidiOutputselectEnter();
        list->setCurrentIndex(1);

        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        QCOMPARE(state(), psOpen);
        QVERIFY(!list->isEnabled());
        const QByteArray written = TestFiles::read(iniPath());
        QCOMPARE(written, input ? QByteArray("[midiio]\r\nmidiin=Orvex in\r\n") : QByteArray("[midiio]\r\nmidiout=Orvex out\r\n"));

        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!box->isChecked());
        QCOMPARE(state(), psClosed);
        QVERIFY(list->isEnabled());
        QCOMPARE(TestFiles::read(iniPath()), written);
        QVERIFY(m_errors.isEmpty());
    }

    // Neither a device that cannot be selected nor one that does not open leaves its box
    // checked; no message, and the file is not written.
    void openFailureUnchecksTheBox_data()
    {
        QTest::addColumn<bool>("input");
        QTest::addColumn<MidiCall>("call");
        QTest::addColumn<int>("skip"); // calls of that kind that still work first
        // Open reads the device list again (to find the device chosen), then selects, then opens.
        QTest::newRow("input: reading the list fails") << true << MidiCall::InGetDevCaps << 0;
        QTest::newRow("input: selecting fails") << true << MidiCall::InGetDevCaps << 1;
        QTest::newRow("input: open fails") << true << MidiCall::InOpen << 0;
        QTest::newRow("output: reading the list fails") << false << MidiCall::OutGetDevCaps << 0;
        QTest::newRow("output: selecting fails") << false << MidiCall::OutGetDevCaps << 1;
        QTest::newRow("output: open fails") << false << MidiCall::OutOpen << 0;
    }

    void openFailureUnchecksTheBox()
    {
        QFETCH(bool, input);
        QFETCH(MidiCall, call);
        QFETCH(int, skip);
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        QComboBox *list = input ? w.MidiInputSelect : w.MidiOutputselect;
        QCheckBox *box = input ? w.OpenIn : w.OpenOut;
        input ? w.MidiInputSelectEnter() : w.MidiOutputselectEnter();
        list->setCurrentIndex(0);
        m_service->failCall(call, MMSYSERR_ALLOCATED, skip);

        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!box->isChecked());
        QVERIFY(list->isEnabled());
        QCOMPARE(input ? w.MidiInput1->State() : w.MidiOutput1->State(), psClosed);
        QVERIFY(!QFile::exists(iniPath()));
        QVERIFY(m_errors.isEmpty());

        // The next attempt opens.
        m_service->clearFailures();
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        QCOMPARE(input ? w.MidiInput1->State() : w.MidiOutput1->State(), psOpen);
    }

    // Entering a list (not coming back to the window, not choosing from its popup) refills it
    // and leaves nothing chosen, so that "Open" checked right after unchecks itself.
    // A device plugged in after the list was filled moves the numbers of the others: Open still
    // opens the device chosen, by its name, and remembers that one.
    void openTakesTheDeviceChosenNotItsOldNumber_data()
    {
        QTest::addColumn<bool>("input");
        QTest::newRow("input") << true;
        QTest::newRow("output") << false;
    }

    void openTakesTheDeviceChosenNotItsOldNumber()
    {
        QFETCH(bool, input);
        Tmidiiof &w = make({"Synth in", "Orvex in"}, {"Synth out", "Orvex out"});
        QComboBox *list = input ? w.MidiInputSelect : w.MidiOutputselect;
        QCheckBox *box = input ? w.OpenIn : w.OpenOut;
        input ? w.MidiInputSelectEnter() : w.MidiOutputselectEnter();
        list->setCurrentIndex(1); // "Orvex ..." is device 1 as the list shows it
        // Plugged in now: every device moves one number up.
        input ? m_service->insertInput(0, QStringLiteral("Keyboard in")) : m_service->insertOutput(0, QStringLiteral("Keyboard out"));
        box->setChecked(true);
        QVERIFY(box->isChecked());
        if (input) {
            QCOMPARE(w.MidiInput1->State(), psOpen);
            QCOMPARE(w.MidiInput1->ProductName(), QStringLiteral("Orvex in"));
            QVERIFY(m_service->send(2, hex("F07E00240601001023451200F7")));
            QTRY_COMPARE(m_sink->rows.size(), 1);
        } else {
            QCOMPARE(w.MidiOutput1->State(), psOpen);
            QCOMPARE(w.MidiOutput1->ProductName(), QStringLiteral("Orvex out"));
        }
        QCOMPARE(IniFile(iniPath()).readString(QStringLiteral("midiio"), input ? QStringLiteral("midiin") : QStringLiteral("midiout"), QString()),
                 input ? QStringLiteral("Orvex in") : QStringLiteral("Orvex out"));
    }

    void enteringAListClearsTheChoice_data()
    {
        QTest::addColumn<Qt::FocusReason>("reason");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("mouse") << Qt::MouseFocusReason << true;
        QTest::newRow("tab") << Qt::TabFocusReason << true;
        QTest::newRow("window activated") << Qt::ActiveWindowFocusReason << false;
        QTest::newRow("popup closed") << Qt::PopupFocusReason << false;
    }

    void enteringAListClearsTheChoice()
    {
        QFETCH(Qt::FocusReason, reason);
        QFETCH(bool, cleared);
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        w.MidiInputSelectEnter();
        w.MidiInputSelect->setCurrentIndex(0);
        m_service->addInput(QStringLiteral("Plugged in later"));

        QFocusEvent focus(QEvent::FocusIn, reason);
        QCoreApplication::sendEvent(w.MidiInputSelect, &focus);
        QCOMPARE(w.MidiInputSelect->currentIndex(), cleared ? -1 : 0);
        QCOMPARE(w.MidiInputSelect->count(), cleared ? 2 : 1);

        w.OpenIn->setChecked(true);
        QCOMPARE(w.OpenIn->isChecked(), !cleared);
        QVERIFY(w.MidiInputSelect->isEnabled() == cleared);
        QCOMPARE(w.MidiInput1->State(), cleared ? psClosed : psOpen);
    }

    // --- Sending -------------------------------------------------------------------------------

    // "LTC" sends three parameter messages in order, each listed in vmout; the parameter
    // monitor lists them only while the window is shown.
    void ltcButton_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown") << true;
        QTest::newRow("hidden") << false;
    }

    void ltcButton()
    {
        QFETCH(bool, shown);
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        if (shown) {
            w.show();
            m_service->clearOutput(0); // the query of the window's start-up
            w.vmout->clear();
        }
        QTest::mouseClick(w.Button2, Qt::LeftButton);
        QCOMPARE(m_service->output(0),
                 (QList<QByteArray>{hex("F07E000502010300F7"), hex("F07E000C02020200F7"), hex("F07E000700F7")}));
        QCOMPARE(memoLines(w.vmout), (QStringList{" F0 7E 00 05 02 01 03 00 F7 ", " F0 7E 00 0C 02 02 02 00 F7 ",
                                                  " F0 7E 00 07 00 F7 "}));
        QCOMPARE(memoLines(w.m8data), shown ? (QStringList{"$05 $01 $03", "$0C $02 $02", "$07"}) : QStringList());
    }

    // A click on the Revision group asks for the revision; with the output closed the query is
    // listed but not sent.
    void revisionClick_data()
    {
        QTest::addColumn<bool>("outputOpen");
        QTest::newRow("output open") << true;
        QTest::newRow("output closed") << false;
    }

    void revisionClick()
    {
        QFETCH(bool, outputOpen);
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        if (!outputOpen)
            QTest::mouseClick(w.OpenOut, Qt::LeftButton);
        QCOMPARE(w.OpenOut->isChecked(), outputOpen);
        QTest::mouseClick(w.Revision, Qt::LeftButton, {}, QPoint(100, 30));
        QCOMPARE(memoLines(w.vmout), QStringList{" F0 7E 00 11 00 F7 "});
        QCOMPARE(m_service->output(0), outputOpen ? QList<QByteArray>{RevisionQuery} : QList<QByteArray>());
        QVERIFY(m_errors.isEmpty());
    }

    // Ports opened by hand in the window (the first set-up, before "midiio.ini" remembers them):
    // the opening that makes both open asks the interface for its revision, once; every later
    // opening that makes both open again asks again.
    void openingBothByHandAsksForTheRevision_data()
    {
        QTest::addColumn<bool>("inputFirst");
        QTest::newRow("input, then output") << true;
        QTest::newRow("output, then input") << false;
    }

    void openingBothByHandAsksForTheRevision()
    {
        QFETCH(bool, inputFirst);
        Tmidiiof &w = make({"Synth in", "Orvex in"}, {"Synth out", "Orvex out"});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(memoLines(w.vmout), QStringList()); // nothing remembered: nothing opened, nothing asked
        auto open = [&](bool input) {
            QComboBox *list = input ? w.MidiInputSelect : w.MidiOutputselect;
            list->setCurrentIndex(1);
            QTest::mouseClick(input ? w.OpenIn : w.OpenOut, Qt::LeftButton);
            QVERIFY((input ? w.OpenIn : w.OpenOut)->isChecked());
        };
        open(inputFirst);
        QCOMPARE(m_service->output(1), QList<QByteArray>());
        QCOMPARE(memoLines(w.vmout), QStringList());
        open(!inputFirst);
        QCOMPARE(m_service->output(1), QList<QByteArray>{RevisionQuery});
        QCOMPARE(memoLines(w.vmout), QStringList{" F0 7E 00 11 00 F7 "});
        // The interface's answer fills the Revision box.
        QVERIFY(m_service->send(1, hex("F07E00210A016202100035030001001200F7")));
        QTRY_COMPARE(w.revtext->text(), QStringLiteral("Core 02.10 Build 00.35 HW 01.62"));
        QCOMPARE(w.revtext2->text(), QStringLiteral("Main 03.01 Build 00.12 Vexa-16"));

        // Closing either port and opening it again is a new opening.
        for (QCheckBox *box : {w.OpenOut, w.OpenIn}) {
            const qsizetype before = m_service->output(1).size();
            QTest::mouseClick(box, Qt::LeftButton);
            QVERIFY(!box->isChecked());
            QCOMPARE(m_service->output(1).size(), before);
            (box == w.OpenIn ? w.MidiInputSelect : w.MidiOutputselect)->setCurrentIndex(1);
            QTest::mouseClick(box, Qt::LeftButton);
            QVERIFY(box->isChecked());
            QCOMPARE(m_service->output(1).size(), before + 1);
            QCOMPARE(m_service->output(1).last(), RevisionQuery);
        }
        QCOMPARE(m_service->output(0), QList<QByteArray>()); // never to the other device
        QVERIFY(m_errors.isEmpty());
    }

    // --- Receiving -----------------------------------------------------------------------------

    // Events from the device reach the memos, labels and the capture sink: a revision reply, a
    // capture event, a full frame and a run of quarter frames.
    void receivedEventsReachTheControls()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        const QByteArray reply = hex("F07E00210A016202100035030001001200F7");
        const QByteArray capture = hex("F07E00240601001023451200F7");
        const QByteArray fullFrame = hex("F07F7F01012A172D0CF7");
        send(reply);
        send(capture);
        send(fullFrame);
        // 11:22:33:04 at 25 frames per second, pieces 0 to 7.
        for (const char *piece : {"F104", "F110", "F121", "F132", "F146", "F151", "F16B", "F172"})
            send(hex(piece));
        QTRY_COMPARE(w.tcpoz->text(), QStringLiteral("11:22:33:04"));

        QCOMPARE(memoLines(w.vmin),
                 (QStringList{"Sysex (18): F0 7E 00 21 0A 01 62 02 10 00 35 03 00 01 00 12 00 F7 ",
                              "Sysex (13): F0 7E 00 24 06 01 00 10 23 45 12 00 F7 ",
                              "Sysex (10): F0 7F 7F 01 01 2A 17 2D 0C F7 Full Timecode"}));
        QCOMPARE(memoLines(w.m8data), (QStringList{"21:  01 62 02 10 00 35 03 01 00 12", "24:  01 00 10 23 45 12"}));
        QCOMPARE(w.revtext->text(), QStringLiteral("Core 02.10 Build 00.35 HW 01.62"));
        QCOMPARE(w.revtext2->text(), QStringLiteral("Main 03.01 Build 00.12 Vexa-16"));
        QCOMPARE(m_sink->rows, QStringList{"10:23:45:12 10:23:45:12 0001"});
        // Both labels got the full frame, then the quarter frames' time.
        QCOMPARE(m_sink->captureTcpoz, (QStringList{"10:23:45:12", "11:22:33:04"}));
        QCOMPARE(w.mmccount->text(), QStringLiteral("1"));
        QCOMPARE(w.mtccount->text(), QStringLiteral("9")); // the full frame counts without showing
        QVERIFY(m_errors.isEmpty());
    }

    // A capture row the capture side refuses is reported through the general error handler;
    // the events behind it are still handled, and every event keeps its input monitor line.
    void refusedRowIsReportedAndTheDrainGoesOn()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        int calls = 0;
        m_sink->beforeRow = [&calls] {
            if (++calls == 1)
                throw CorvaneError(QStringLiteral("'$XYZ' is not a valid integer value"));
        };
        send(hex("F07E00240601001023451200F7"));
        send(hex("F07E00240602001023451300F7"));
        QTRY_COMPARE(memoLines(w.vmin).size(), 2);
        QCOMPARE(m_sink->rows, QStringList{"10:23:45:13 10:23:45:13 0002"});
        QCOMPARE(m_errors, QStringList{"'$XYZ' is not a valid integer value"});
    }

    // A long show: the input monitor keeps the newest lines, in order, and never more than
    // twice its limit, also when they come in bursts.
    void monitorsKeepTheNewestLines()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        constexpr int events = 3 * Tmidiiof::MonitorLineLimit + 50;
        auto line = [](int i) { return QString::asprintf("00000000 90 %02X %02X Note OnNote On", i % 128, i / 128 + 1); };
        int sent = 0;
        for (int burst = 0; burst < 4; ++burst) {
            for (; sent < events * (burst + 1) / 4; ++sent)
                send(QByteArray::fromRawData("\x90", 1) + char(sent % 128) + char(sent / 128 + 1));
            QTRY_COMPARE(memoLines(w.vmin).value(w.vmin->blockCount() - 1), line(sent - 1));
            const QStringList lines = memoLines(w.vmin);
            QVERIFY2(lines.size() >= std::min(sent, int(Tmidiiof::MonitorLineLimit)), qPrintable(QString::number(lines.size())));
            QVERIFY2(lines.size() <= 2 * Tmidiiof::MonitorLineLimit, qPrintable(QString::number(lines.size())));
            const int first = sent - int(lines.size());
            for (int k = 0; k < lines.size(); ++k)
                QCOMPARE(lines[k], line(first + k));
        }
    }

    // --- Shut-down -----------------------------------------------------------------------------

    // StopDevices closes the output and stops the input, which stays open until closed.
    void stopDevices()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        w.StopDevices();
        QCOMPARE(w.MidiOutput1->State(), psClosed);
        QCOMPARE(w.MidiInput1->State(), psOpen);
        m_service->send(0, hex("F07E00240601001023451200F7"));
        QCoreApplication::processEvents();
        QVERIFY(m_sink->rows.isEmpty()); // stopped: nothing is delivered
        w.MidiInput1->Close();
        QCOMPARE(w.MidiInput1->State(), psClosed);
    }

    // --- Devices that go away and come back ------------------------------------------------------

    // A device that goes away (unplugged, or the whole MIDI server stopped) is noticed by the
    // watch: its port is closed, its box unticked, and the timecode turns red with "NO DEVICE",
    // in this window and in the capture window. When a device of the same name is listed again,
    // it is opened by itself, the revision is asked for again, and capture goes on.
    void lostDeviceIsReopenedWhenItComesBack_data()
    {
        QTest::addColumn<QString>("gone");
        QTest::newRow("input unplugged") << "input";
        QTest::newRow("output unplugged") << "output";
        QTest::newRow("server stopped") << "server";
    }

    void lostDeviceIsReopenedWhenItComesBack()
    {
        QFETCH(QString, gone);
        const bool inputGone = gone != QLatin1String("output");
        const bool outputGone = gone != QLatin1String("input");
        Tmidiiof &w = make({"Synth in", "Orvex in"}, {"Orvex out"});
        w.MidiInputSelectEnter();
        w.MidiOutputselectEnter();
        w.MidiInputSelect->setCurrentIndex(1);
        w.OpenIn->setChecked(true);
        w.MidiOutputselect->setCurrentIndex(0);
        w.OpenOut->setChecked(true);
        w.setTcpoz(QStringLiteral("10:00:00:00"));
        const QColor lime = w.tcpoz->palette().color(QPalette::Window);
        const int plainHeight = w.height();
        m_service->clearOutput(0);

        if (gone == QLatin1String("server"))
            m_service->stopServer();
        else if (inputGone)
            m_service->unplugInput(1);
        else
            m_service->unplugOutput(0);
        QTRY_VERIFY(m_sink->deviceMissing);
        QCOMPARE(w.OpenIn->isChecked(), !inputGone);
        QCOMPARE(w.OpenOut->isChecked(), !outputGone);
        QCOMPARE(w.MidiInput1->State(), inputGone ? psClosed : psOpen);
        QCOMPARE(w.MidiOutput1->State(), outputGone ? psClosed : psOpen);
        QCOMPARE(w.MidiInputSelect->isEnabled(), inputGone);
        QCOMPARE(w.tcpoz->text(), Tmidiiof::NoDeviceText);
        QCOMPARE(w.tcpoz->palette().color(QPalette::Window), QColor(0xFF, 0x00, 0x00));
        QVERIFY(!w.devicestate->isHidden());
        QStringList told;
        if (inputGone)
            told << QStringLiteral("MIDI input Orvex in has gone: waiting for it.");
        if (outputGone)
            told << QStringLiteral("MIDI output Orvex out has gone: waiting for it.");
        QCOMPARE(w.devicestate->text(), told.join(QLatin1Char('\n')));
        // The window grows to show the status line whole.
        QTRY_VERIFY(w.height() >= plainHeight + w.devicestate->height());
        QVERIFY(w.rect().contains(w.devicestate->geometry()));
        // A timecode that still comes (the input is there) waits behind the alarm.
        w.setTcpoz(QStringLiteral("10:00:01:00"));
        QCOMPARE(w.tcpoz->text(), Tmidiiof::NoDeviceText);

        if (gone == QLatin1String("server"))
            m_service->startServer();
        else if (inputGone)
            m_service->plugInput(1);
        else
            m_service->plugOutput(0);
        QTRY_VERIFY(!m_sink->deviceMissing);
        QVERIFY(w.OpenIn->isChecked() && w.OpenOut->isChecked());
        QCOMPARE(w.MidiInput1->State(), psOpen);
        QCOMPARE(w.MidiOutput1->State(), psOpen);
        QCOMPARE(w.MidiInputSelect->currentText(), QStringLiteral("Orvex in"));
        QVERIFY(!w.MidiInputSelect->isEnabled());
        QCOMPARE(w.tcpoz->text(), QStringLiteral("10:00:01:00"));
        QCOMPARE(w.tcpoz->palette().color(QPalette::Window), lime);
        QVERIFY(w.devicestate->isHidden());
        QTRY_COMPARE(w.height(), plainHeight);
        QCOMPARE(m_service->output(0), QList<QByteArray>{RevisionQuery});

        QVERIFY(m_service->send(1, hex("F07E00240601001023451200F7")));
        QTRY_COMPARE(m_sink->rows, QStringList{"10:23:45:12 10:23:45:12 0001"});
        QCOMPARE(m_errors, QStringList());
    }

    // A device that the operator closes is no longer waited for: coming back, it stays closed.
    void aDeviceClosedByTheOperatorIsNotWaitedFor()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        m_service->unplugInput(0);
        QTRY_VERIFY(m_sink->deviceMissing);
        // The operator picks the input again and ticks it while it is gone: refused, still waited
        // for; then gives up with no device chosen.
        w.MidiInputSelectEnter();
        w.OpenIn->setChecked(true);
        QVERIFY(!w.OpenIn->isChecked());
        QVERIFY(!w.deviceWatch().missing(DeviceWatch::Port::Input));
        QVERIFY(!m_sink->deviceMissing);
        m_service->plugInput(0);
        w.deviceWatch().check();
        w.deviceWatch().check();
        QVERIFY(!w.OpenIn->isChecked());
        QCOMPARE(w.MidiInput1->State(), psClosed);
    }

    // The window shown while its open input is gone refills the lists, and the selection goes
    // with the device; unticking "Open" then still closes the input, and the device, back,
    // opens again.
    void uncheckingClosesTheInputWhateverTheListShows()
    {
        Tmidiiof &w = make({"Orvex in"}, {"Orvex out"});
        openBoth(w);
        m_service->unplugInput(0);
        w.StartDevices(); // before the watch has looked
        QCOMPARE(w.MidiInputSelect->currentIndex(), -1);
        QVERIFY(w.OpenIn->isChecked());
        w.OpenIn->setChecked(false);
        QCOMPARE(w.MidiInput1->State(), psClosed);
        QVERIFY(w.MidiInputSelect->isEnabled());

        m_service->plugInput(0);
        w.MidiInputSelectEnter();
        w.MidiInputSelect->setCurrentIndex(0);
        w.OpenIn->setChecked(true);
        QVERIFY(w.OpenIn->isChecked());
        QCOMPARE(w.MidiInput1->State(), psOpen);
        send(hex("F07E00240601001023451200F7"));
        QTRY_COMPARE(m_sink->rows.size(), 1);
        QCOMPARE(m_errors, QStringList());
    }

    // Events the input lost, and the MIDI server's late cycles, are counted in the status line and
    // told to the capture window.
    void lostEventsAreShown()
    {
        Tmidiiof &w = make({"Orvex in"}, {});
        w.MidiInput1->setCapacity(4);
        w.MidiInputSelectEnter();
        w.MidiInputSelect->setCurrentIndex(0);
        w.OpenIn->setChecked(true);
        QVERIFY(w.devicestate->isHidden());
        // Sent before the window can drain: the ring keeps 4, the other 6 are lost.
        for (int n = 0; n < 10; ++n)
            QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QTRY_COMPARE(m_sink->lostEvents, std::uint64_t(6));
        QCOMPARE(w.lostEventCount(), quint64(6));
        QCOMPARE(m_sink->rows.size(), 4);
        QVERIFY(!w.devicestate->isHidden());
        QCOMPARE(w.devicestate->text(), QStringLiteral("6 events lost."));
        QVERIFY(!m_sink->deviceMissing);
        QCOMPARE(w.tcpoz->text(), QStringLiteral("00:00:00:00"));

        // The MIDI server's late cycles while the input is open: a line of their own, and told
        // to the capture window beside the lost events.
        m_service->reportLateCycles(2);
        QTRY_COMPARE(m_sink->serverLate, std::uint64_t(2));
        QCOMPARE(w.serverLateCount(), quint64(2));
        QCOMPARE(m_sink->lostEvents, std::uint64_t(6));
        QCOMPARE(w.devicestate->text(), QStringLiteral("6 events lost.\nMIDI server late: 2 (input may have been dropped)."));
    }
};

QTEST_MAIN(TestMidiiou)
#include "tst_device_window.moc"
