// corvane-cli's device session on the loopback MIDI service: the devices found by name, the
// lines the monitor command prints, the rows the capture command writes, and failures to open.

#include "DeviceLinkFixtures.h"
#include "DeviceSession.h"
#include "Errors.h"
#include "LoopbackMidiService.h"

#include <QTest>

#include <memory>

using namespace DeviceLinkFixtures;

class TestDeviceSession : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<LoopbackMidiService> m_service;
    std::unique_ptr<DeviceSession> m_session;
    QStringList m_lines;
    QStringList m_rows;
    QStringList m_errors;
    QStringList m_status;

    void makeSession()
    {
        m_session = std::make_unique<DeviceSession>(*m_service);
        m_session->setLineHandler([this](const QString &line) { m_lines << line; });
        m_session->setRowHandler([this](const QString &line) { m_rows << line; });
        m_session->setErrorHandler([this](const QString &message) { m_errors << message; });
        m_session->setStatusHandler([this](const QString &message) { m_status << message; });
    }

private slots:
    void init()
    {
        m_service = std::make_unique<LoopbackMidiService>();
        m_service->setClockMs(0);
        m_lines.clear();
        m_rows.clear();
        m_errors.clear();
        m_status.clear();
    }

    void cleanup()
    {
        m_session.reset();
        m_service.reset();
    }

    // Everything the device window would show comes out as one line, prefixed by the memo's
    // name; the revision query goes out once both devices are open.
    void monitorLines()
    {
        m_service->addInput(QStringLiteral("Orvex in"));
        m_service->addOutput(QStringLiteral("Orvex out"));
        makeSession();
        QString error;
        QVERIFY2(m_session->open(QStringLiteral("Orvex in"), QStringLiteral("Orvex out"), error), qPrintable(error));
        QCOMPARE(m_service->output(0), QList<QByteArray>{hex("F07E001100F7")});

        QVERIFY(m_service->send(0, hex("F07E00210601020210003500F7")));
        QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QVERIFY(m_service->send(0, hex("F07F7F01012A172D0CF7")));
        QVERIFY(m_service->send(0, hex("F104"))); // a quarter frame: no line of its own
        QTRY_COMPARE(m_lines.size(), 9);
        QCOMPARE(m_lines, (QStringList{
                              "vmout\t F0 7E 00 11 00 F7 ",
                              "m8data\t21:  01 02 02 10 00 35",
                              "rev\tCore 02.10 Build 00.35 HW 01.02\t",
                              "vmin\tSysex (13): F0 7E 00 21 06 01 02 02 10 00 35 00 F7 ",
                              "m8data\t24:  01 00 10 23 45 12",
                              "row\t0001,0001,10:23:45:12,10:23:45:12,",
                              "vmin\tSysex (13): F0 7E 00 24 06 01 00 10 23 45 12 00 F7 ",
                              "tc\t10:23:45:12",
                              "vmin\tSysex (10): F0 7F 7F 01 01 2A 17 2D 0C F7 Full Timecode",
                          }));
        QCOMPARE(m_rows, QStringList{"0001,0001,10:23:45:12,10:23:45:12,"});
        m_session->close();
        QVERIFY(!m_session->isOpen());
        QVERIFY(!m_service->send(0, hex("F8")));
    }

    // Without an output nothing is sent, and rows are numbered on from the rows already kept.
    void rowsNumberedOn()
    {
        m_service->addInput(QStringLiteral("Orvex in"));
        makeSession();
        m_session->setRowCount(41);
        QString error;
        QVERIFY(m_session->open(QStringLiteral("Orvex in"), QString(), error));
        QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QVERIFY(m_service->send(0, hex("F07E00240600401023451320F7")));
        QTRY_COMPARE(m_rows.size(), 2);
        QCOMPARE(m_rows, (QStringList{"0042,0001,10:23:45:12,10:23:45:12,", "0043,4080,10:23:45:13,10:23:45:13,"}));
        QCOMPARE(m_session->rowCount(), 43);
        QVERIFY(!m_lines.join('\n').contains(QStringLiteral("vmout")));
    }

    // A row that cannot be kept (the file cannot be written) is reported once the drain is over;
    // the rows behind it are still handed on.
    void rowFailureIsReported()
    {
        m_service->addInput(QStringLiteral("Orvex in"));
        makeSession();
        m_session->setRowHandler([this](const QString &line) {
            if (m_rows.isEmpty() && m_errors.isEmpty() && line.startsWith(QLatin1String("0001")))
                throw CorvaneError(QStringLiteral("Cannot write show.gpo: No space left on device"));
            m_rows << line;
        });
        QString error;
        QVERIFY(m_session->open(QStringLiteral("Orvex in"), QString(), error));
        QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QVERIFY(m_service->send(0, hex("F07E00240602001023451300F7")));
        QTRY_COMPARE(m_rows.size(), 1);
        QCOMPARE(m_rows.first(), QStringLiteral("0002,0002,10:23:45:13,10:23:45:13,"));
        QCOMPARE(m_errors, QStringList{"Cannot write show.gpo: No space left on device"});
    }

    // Rows that arrive together end their drain together: the capture command writes them in
    // one write. A failure at the end of a drain is reported like a row's.
    void rowsOfOneDrainEndTogether()
    {
        m_service->addInput(QStringLiteral("Orvex in"));
        makeSession();
        QList<int> rowsAtDrainEnd;
        m_session->setDrainEndHandler([&] {
            rowsAtDrainEnd << int(m_rows.size());
            if (m_rows.size() == 4)
                throw CorvaneError(QStringLiteral("Cannot write show.gpo: No space left on device"));
        });
        QString error;
        QVERIFY(m_session->open(QStringLiteral("Orvex in"), QString(), error));
        // Sent before the event loop runs again: all three wait for the same drain.
        QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QVERIFY(m_service->send(0, hex("F07E00240602001023451300F7")));
        QVERIFY(m_service->send(0, hex("F07E00240604001023451400F7")));
        QTRY_COMPARE(rowsAtDrainEnd, QList<int>{3});
        QVERIFY(m_service->send(0, hex("F07E00240608001023451500F7")));
        QTRY_COMPARE(rowsAtDrainEnd, (QList<int>{3, 4}));
        QCOMPARE(m_errors, QStringList{"Cannot write show.gpo: No space left on device"});
    }

    // Names: the exact one first, else the first equal without regard to case.
    void findsDevicesByName_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error"); // empty: opens
        QTest::addColumn<int>("inputDevice");
        QTest::addColumn<int>("outputDevice");
        QTest::newRow("exact") << "ORVEX" << "orvex" << QString() << 2 << 1;
        QTest::newRow("letter case ignored") << "orvex" << "ORVEX" << QString() << 1 << 0;
        QTest::newRow("input missing") << "Synth" << "Orvex" << "MIDI input device not found: Synth" << -1 << -1;
        QTest::newRow("output missing") << "Orvex" << "Synth" << "MIDI output device not found: Synth" << -1 << -1;
    }

    void findsDevicesByName()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QFETCH(int, inputDevice);
        QFETCH(int, outputDevice);
        for (const char *name : {"Mixer", "Orvex", "ORVEX"})
            m_service->addInput(QLatin1String(name));
        for (const char *name : {"Orvex", "orvex"})
            m_service->addOutput(QLatin1String(name));
        makeSession();
        QString message;
        QCOMPARE(m_session->open(input, output, message), error.isEmpty());
        QCOMPARE(message, error);
        QCOMPARE(m_session->isOpen(), error.isEmpty());
        // The device opened is the one that receives; the others are closed.
        for (int device = 0; device < 3; ++device)
            QCOMPARE(m_service->send(device, hex("F8")), device == inputDevice);
        for (int device = 0; device < 2; ++device)
            QCOMPARE(m_service->output(device).size(), device == outputDevice ? 1 : 0);
    }

    // A device that will not open: nothing stays open, and the platform's text is told.
    void openFailure_data()
    {
        QTest::addColumn<MidiCall>("call");
        QTest::newRow("input") << MidiCall::InOpen;
        QTest::newRow("output") << MidiCall::OutOpen;
    }

    void openFailure()
    {
        QFETCH(MidiCall, call);
        m_service->addInput(QStringLiteral("Orvex in"));
        m_service->addOutput(QStringLiteral("Orvex out"));
        makeSession();
        m_service->failCall(call, MMSYSERR_ALLOCATED);
        QString error;
        QVERIFY(!m_session->open(QStringLiteral("Orvex in"), QStringLiteral("Orvex out"), error));
        QVERIFY2(error.startsWith(call == MidiCall::InOpen ? QLatin1String("Cannot open MIDI input Orvex in")
                                                             : QLatin1String("Cannot open MIDI output Orvex out")),
                 qPrintable(error));
        QVERIFY(!m_session->isOpen());
        QVERIFY(!m_service->send(0, hex("F8")));
        QVERIFY(m_service->output(0).isEmpty());
    }

    // The MIDI server stops and starts again under a capture: both devices are noticed gone and
    // told, opened again once they are back (with the revision asked for again), and capture
    // goes on with the next row number.
    void capturesAcrossAServerRestart()
    {
        m_service->addInput(QStringLiteral("Orvex in"));
        m_service->addOutput(QStringLiteral("Orvex out"));
        makeSession();
        QString error;
        QVERIFY2(m_session->open(QStringLiteral("Orvex in"), QStringLiteral("Orvex out"), error), qPrintable(error));
        QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QTRY_COMPARE(m_rows.size(), 1);

        m_service->stopServer();
        QTRY_VERIFY(m_session->deviceMissing());
        QCOMPARE(m_status, (QStringList{"MIDI input Orvex in has gone; waiting for it to come back",
                                        "MIDI output Orvex out has gone; waiting for it to come back"}));
        QVERIFY(!m_service->send(0, hex("F07E00240602001023451300F7")));

        m_service->startServer();
        QTRY_VERIFY(!m_session->deviceMissing());
        QCOMPARE(m_status.mid(2), (QStringList{"MIDI input Orvex in is back", "MIDI output Orvex out is back"}));
        QCOMPARE(m_service->output(0), (QList<QByteArray>{hex("F07E001100F7"), hex("F07E001100F7")}));
        QVERIFY(m_service->send(0, hex("F07E00240604001023451400F7")));
        QTRY_COMPARE(m_rows.size(), 2);
        QCOMPARE(m_rows.last(), QStringLiteral("0002,0004,10:23:45:14,10:23:45:14,"));
        QCOMPARE(m_session->lostEvents(), std::uint64_t(0));
        QCOMPARE(m_errors, QStringList());
    }

    // Events lost on their way in (more System Exclusive messages at once than the input has
    // buffers for) are counted and told on each change.
    void lostEventsAreTold()
    {
        m_service->addInput(QStringLiteral("Orvex in"));
        makeSession();
        QString error;
        QVERIFY(m_session->open(QStringLiteral("Orvex in"), QString(), error));
        // All at once, before the session drains any: the input holds 2048 buffers.
        for (int n = 0; n < 2050; ++n)
            QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QTRY_COMPARE(m_session->lostEvents(), std::uint64_t(2));
        QTRY_COMPARE(m_status, QStringList{"2 events lost"});
        QTRY_COMPARE(m_rows.size(), 2048);
    }

    // The MIDI server's late cycles count only while the input is open (one reported while it
    // is closed cost nothing), are told on each change apart from lost events, and stay counted
    // after the input was closed and opened again.
    void serverLateIsToldWhileTheInputIsOpen()
    {
        m_service->addInput(QStringLiteral("Orvex in"));
        makeSession();
        m_service->reportLateCycles(5); // no input open yet
        QString error;
        QVERIFY(m_session->open(QStringLiteral("Orvex in"), QString(), error));
        m_session->deviceWatch().check();
        QCOMPARE(m_session->serverLate(), std::uint64_t(0));
        QCOMPARE(m_status, QStringList());

        m_service->reportLateCycles(3);
        QTRY_COMPARE(m_status, QStringList{"MIDI server late: 3 (input may have been dropped)"});
        QCOMPARE(m_session->serverLate(), std::uint64_t(3));

        m_service->stopServer();
        QTRY_VERIFY(m_session->deviceMissing());
        m_service->reportLateCycles(7); // the input is closed
        m_service->startServer();
        QTRY_VERIFY(!m_session->deviceMissing());
        m_service->reportLateCycles(1);
        QTRY_COMPARE(m_session->serverLate(), std::uint64_t(4));
        QTRY_COMPARE(m_status.last(), QStringLiteral("MIDI server late: 4 (input may have been dropped)"));
        QCOMPARE(m_session->lostEvents(), std::uint64_t(0));

        // Events still arrive, one row each.
        QVERIFY(m_service->send(0, hex("F07E00240601001023451200F7")));
        QTRY_COMPARE(m_rows.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDeviceSession)
#include "tst_devicesession.moc"
