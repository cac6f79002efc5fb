#include "CaptureFixtures.h"
#include "CaptureList.h"
#include "EdlBuilder.h"
#include "Errors.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using namespace CaptureFixtures;

using Change = std::function<void(CaptureList &)>;

// The capture list model: numbering, device events, deletion, sorting, comments, and the way
// views learn of changes. Every test runs with a model tester attached, which fails the test on
// any breach of the model contract (wrong row counts in signals, stale indexes).
class TestCaptureList : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CaptureList> m_list;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    // Rows 0001 .. 000n, camera i, timecode 10:00:0i:00.
    void fillNumbered(int n)
    {
        for (int i = 1; i <= n; ++i)
            m_list->appendEvent(QStringLiteral("10:00:%1:00").arg(i, 2, 10, QLatin1Char('0')),
                                QStringLiteral("10:00:%1:00").arg(i, 2, 10, QLatin1Char('0')),
                                QStringLiteral("%1").arg(i, 4, 16, QLatin1Char('0')));
    }

private slots:
    void init()
    {
        m_list = std::make_unique<CaptureList>();
        m_tester = std::make_unique<QAbstractItemModelTester>(m_list.get(),
                                                              QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup()
    {
        m_tester.reset();
        m_list.reset();
    }

    void headerCaptions()
    {
        QStringList captions;
        for (int c = 0; c < m_list->columnCount(); ++c)
            captions.append(m_list->headerData(c, Qt::Horizontal).toString());
        QCOMPARE(captions, QStringList({"Item", "Camera", "Reader", "Generator", "Comment"}));
    }

    void itemNumberFormat_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("first") << 1 << "0001";
        QTest::newRow("four digits") << 9999 << "9999";
        QTest::newRow("ten-thousandth") << 10000 << "10000";
        QTest::newRow("millionth") << 1000000 << "1000000";
    }

    void itemNumberFormat()
    {
        QFETCH(int, number);
        QFETCH(QString, text);
        QCOMPARE(CaptureList::formatItemNumber(number), text);
    }

    void eventRowTextsAreKeptAsGiven()
    {
        m_list->appendEvent(u"10:00:00:00", u"10:00:00:01", u"0003");
        m_list->appendEvent(u"10:00:05:00", u"10:00:05:01", u"00");
        QCOMPARE(rowsOf(*m_list), Rows({{"0001", "0003", "10:00:00:00", "10:00:00:01", ""},
                                        {"0002", "00", "10:00:05:00", "10:00:05:01", ""}}));
        QCOMPARE(m_list->data(m_list->index(1, CaptureList::GeneratorColumn)).toString(), QStringLiteral("10:00:05:01"));
    }

    // A device row takes the highest number in the list, or among the rows Undo can put back,
    // plus one; rows loaded keep theirs, and texts that are not numbers are passed over.
    void numbering_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<bool>("undo");
        QTest::addColumn<Change>("change");
        QTest::addColumn<QStringList>("items"); // after the change and one device row

        Rows five;
        for (int i = 1; i <= 5; ++i)
            five.append(eventRow(CaptureList::formatItemNumber(i), QStringLiteral("0001"), QStringLiteral("10:00:00:00")));
        const Change none = [](CaptureList &) {};
        QTest::newRow("on from the last") << five << false << none << QStringList{"0001", "0002", "0003", "0004", "0005", "0006"};
        QTest::newRow("a row in the middle deleted")
            << five << false << Change([](CaptureList &l) { l.deleteRows({1}); })
            << QStringList{"0001", "0003", "0004", "0005", "0006"};
        QTest::newRow("rows removed from the front")
            << five << false << Change([](CaptureList &l) { l.removeRows(0, 2); })
            << QStringList{"0003", "0004", "0005", "0006"};
        QTest::newRow("the highest deleted, no undo")
            << five << false << Change([](CaptureList &l) { l.deleteRows({3, 4}); })
            << QStringList{"0001", "0002", "0003", "0004"};
        QTest::newRow("the highest deleted, Undo can bring it back")
            << five << true << Change([](CaptureList &l) { l.deleteRows({3, 4}); })
            << QStringList{"0001", "0002", "0003", "0006"};
        QTest::newRow("cleared, no undo") << five << false << Change([](CaptureList &l) { l.clear(); }) << QStringList{"0001"};
        QTest::newRow("cleared, Undo can bring them back")
            << five << true << Change([](CaptureList &l) { l.clear(); }) << QStringList{"0006"};
        QTest::newRow("the undo steps forgotten")
            << five << true << Change([](CaptureList &l) {
                   l.deleteRows({4});
                   QCOMPARE(l.nextItemNumber(), 6);
                   l.clearUndo();
               }) << QStringList{"0001", "0002", "0003", "0004", "0005"};
        QTest::newRow("a load taken back: its numbers are gone")
            << five << true << Change([](CaptureList &l) {
                   CaptureList loaded;
                   loaded.appendRow(eventRow(QStringLiteral("0050"), QStringLiteral("0001"), QStringLiteral("10:00:00:00")));
                   l.replaceRows(loaded);
                   QCOMPARE(l.nextItemNumber(), 51);
                   l.undo();
               }) << QStringList{"0001", "0002", "0003", "0004", "0005", "0006"};
        QTest::newRow("sorted by camera")
            << Rows{eventRow("0001", "0002", "10:00:00:00"), eventRow("0002", "0001", "10:00:01:00")} << false
            << Change([](CaptureList &l) { l.sortByColumn(CaptureList::CameraColumn); })
            << QStringList{"0002", "0001", "0003"};
        QTest::newRow("loaded numbers out of order")
            << Rows{eventRow("0007", "0001", "10:00:00:00"), eventRow("0012", "0000", "10:00:01:00"),
                    eventRow("0009", "0001", "10:00:02:00")}
            << false << none << QStringList{"0007", "0012", "0009", "0013"};
        QTest::newRow("more than four digits")
            << Rows{eventRow("10000", "0001", "10:00:00:00")} << false << none << QStringList{"10000", "10001"};
        QTest::newRow("texts that are not numbers")
            << Rows{eventRow("0003", "0001", "10:00:00:00"), eventRow("abc", "0001", "10:00:00:00"),
                    eventRow("12a", "0001", "10:00:00:00"), eventRow(" 9", "0001", "10:00:00:00"),
                    eventRow("-20", "0001", "10:00:00:00"), eventRow("+8", "0001", "10:00:00:00"),
                    eventRow("", "0001", "10:00:00:00"), eventRow("9999999999999999999", "0001", "10:00:00:00"),
                    eventRow(QStringLiteral("\u0665"), "0001", "10:00:00:00")}
            << false << none
            << QStringList{"0003", "abc", "12a", " 9", "-20", "+8", "", "9999999999999999999", QStringLiteral("\u0665"), "0004"};
        QTest::newRow("the longest number taken")
            << Rows{eventRow("000000000000000017", "0001", "10:00:00:00"), eventRow("999999999999999998", "0001", "10:00:00:00")}
            << false << Change([](CaptureList &l) { l.deleteRows({1}); })
            << QStringList{"000000000000000017", "0018"};
        QTest::newRow("nothing but texts") << Rows{eventRow("x", "0001", "10:00:00:00")} << false << none
                                           << QStringList{"x", "0001"};
    }

    void numbering()
    {
        QFETCH(Rows, rows);
        QFETCH(bool, undo);
        QFETCH(Change, change);
        QFETCH(QStringList, items);
        m_list->setUndoEnabled(undo);
        fill(*m_list, rows);
        change(*m_list);
        m_list->appendEvent(u"10:01:00:00", u"10:01:00:00", u"0001");
        QCOMPARE(column(*m_list, CaptureList::ItemColumn), items);
    }

    // The operator deletes rows (the last among them), capture goes on, Undo puts them back and
    // capture goes on again: every row keeps a number of its own, and so does every event of
    // the EDL, which numbers its events by the rows they begin at.
    void deleteCaptureUndoCaptureKeepsNumbersUnique()
    {
        m_list->setUndoEnabled(true);
        const char *const cuts[] = {"0001", "0002", "0004", "0008", "0001", "0002"};
        int second = 0;
        const auto capture = [&](const char *camera) {
            const QString timecode = QStringLiteral("10:00:%1:00").arg(second++, 2, 10, QLatin1Char('0'));
            m_list->appendEvent(timecode, timecode, QLatin1String(camera));
        };
        for (const char *camera : cuts)
            capture(camera);
        m_list->deleteRows({2, 5});
        capture("0004");
        capture("0008");
        QVERIFY(m_list->undo());
        capture("0001");
        QCOMPARE(column(*m_list, CaptureList::ItemColumn),
                 QStringList({"0001", "0002", "0003", "0004", "0005", "0006", "0007", "0008", "0009"}));

        QStringList lines;
        EdlBuilder builder;
        builder.BuildEdl(*m_list, standardCameras(), QStringLiteral("show"), QStringLiteral("DATE"),
                         QStringLiteral("TIME"), lines);
        QStringList numbers;
        for (const QString &line : lines.mid(2))
            numbers.append(line.left(4));
        QCOMPARE(numbers.size(), m_list->count());
        QCOMPARE(QSet<QString>(numbers.begin(), numbers.end()).size(), numbers.size());
    }

    void gpoEvent_data()
    {
        QTest::addColumn<QString>("camera");
        QTest::addColumn<bool>("gpo8Option");
        QTest::addColumn<bool>("trigger");
        QTest::newRow("camera 1, option on") << "0001" << true << false;
        QTest::newRow("camera 8, option on") << "0080" << true << true;
        QTest::newRow("camera 8 with others, option on") << "0083" << true << true;
        QTest::newRow("camera 8, option off") << "0080" << false << false;
        QTest::newRow("camera 16, option on") << "8000" << true << false;
    }

    // A GPO8 trigger never becomes a row.
    void gpoEvent()
    {
        QFETCH(QString, camera);
        QFETCH(bool, gpo8Option);
        QFETCH(bool, trigger);
        fillNumbered(2);
        const auto result = m_list->addGpoEvent(QStringLiteral("10:00:09:00"), QStringLiteral("10:00:09:00"), camera, gpo8Option);
        QCOMPARE(result == CaptureList::GpoEvent::Gpo8Trigger, trigger);
        QCOMPARE(m_list->count(), trigger ? 2 : 3);
        if (!trigger)
            QCOMPARE(m_list->rowTexts(2), Row({"0003", camera, "10:00:09:00", "10:00:09:00", ""}));
    }

    void cameraState_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<uint>("mask");
        QTest::newRow("camera 1") << "0001" << true << 0x1u;
        QTest::newRow("camera 16") << "8000" << true << 0x8000u;
        QTest::newRow("closing row") << "00" << true << 0u;
        QTest::newRow("lower case") << "ffff" << true << 0xFFFFu;
        QTest::newRow("32 bits") << "FFFFFFFF" << true << 0xFFFFFFFFu;
        QTest::newRow("leading zeros") << "000000000001" << true << 0x1u;
        QTest::newRow("over 32 bits") << "100000000" << false << 0u;
        QTest::newRow("empty") << "" << false << 0u;
        QTest::newRow("space") << " 1" << false << 0u;
        QTest::newRow("sign") << "-1" << false << 0u;
        QTest::newRow("prefix") << "$1" << false << 0u;
        QTest::newRow("not hex") << "00G0" << false << 0u;
        QTest::newRow("fullwidth digit") << QString(QChar(0xFF11)) << false << 0u;
    }

    void cameraState()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(uint, mask);
        quint32 parsed = 0;
        QCOMPARE(CaptureList::tryParseCameraState(text, &parsed), valid);
        if (valid)
            QCOMPARE(parsed, mask);
    }

    // A state that is not hexadecimal stops the event with the conversion message; no row.
    void badCameraStateAddsNoRow_data()
    {
        QTest::addColumn<QString>("camera");
        QTest::addColumn<QString>("message");
        QTest::newRow("letters") << "zz" << "'$zz' is not a valid integer value";
        QTest::newRow("empty") << "" << "'$' is not a valid integer value";
    }

    void badCameraStateAddsNoRow()
    {
        QFETCH(QString, camera);
        QFETCH(QString, message);
        fillNumbered(1);
        try {
            m_list->addGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), camera, false);
            QFAIL("no conversion error");
        } catch (const CorvaneError &e) {
            QCOMPARE(e.message(), message);
        }
        QCOMPARE(m_list->count(), 1);
    }

    void deleteRows_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QStringList>("removals"); // rowsRemoved ranges, in order
        QTest::newRow("nothing selected") << QList<int>{} << QStringList{"0001", "0002", "0003", "0004", "0005", "0006", "0007"}
                                          << QStringList{};
        QTest::newRow("rows 3 to 5") << QList<int>{3, 4, 5} << QStringList{"0001", "0002", "0003", "0007"}
                                     << QStringList{"3-5"};
        QTest::newRow("not contiguous") << QList<int>{0, 2, 3, 6} << QStringList{"0002", "0005", "0006"}
                                        << QStringList{"6-6", "2-3", "0-0"};
        QTest::newRow("any order, repeats") << QList<int>{5, 1, 5, 2} << QStringList{"0001", "0004", "0005", "0007"}
                                            << QStringList{"5-5", "1-2"};
        QTest::newRow("out of range ignored") << QList<int>{-1, 6, 7, 100} << QStringList{"0001", "0002", "0003", "0004", "0005", "0006"}
                                              << QStringList{"6-6"};
        QTest::newRow("all") << QList<int>{6, 5, 4, 3, 2, 1, 0} << QStringList{} << QStringList{"0-6"};
    }

    // Exactly the selected rows go, whatever the shape of the selection; the others keep their
    // item numbers.
    void deleteRows()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, remaining);
        QFETCH(QStringList, removals);
        fillNumbered(7);
        QSignalSpy removed(m_list.get(), &QAbstractItemModel::rowsRemoved);
        m_list->deleteRows(selected);
        QCOMPARE(column(*m_list, CaptureList::ItemColumn), remaining);
        QStringList ranges;
        for (const QList<QVariant> &args : removed)
            ranges.append(QStringLiteral("%1-%2").arg(args.at(1).toInt()).arg(args.at(2).toInt()));
        QCOMPARE(ranges, removals);
        QCOMPARE(m_list->rowCount(), remaining.size());
    }

    // Many separate ranges go in one pass; the rows left are the same.
    void deleteManyScatteredRows()
    {
        fillNumbered(200);
        QList<int> odd;
        for (int r = 1; r < 200; r += 2)
            odd.append(r);
        QSignalSpy reset(m_list.get(), &QAbstractItemModel::modelReset);
        m_list->deleteRows(odd);
        QCOMPARE(m_list->count(), 100);
        QCOMPARE(m_list->rowCount(), 100);
        for (int r = 0; r < 100; ++r)
            QCOMPARE(m_list->text(r, CaptureList::ItemColumn), CaptureList::formatItemNumber(2 * r + 1));
        QCOMPARE(reset.count(), 1);
    }

    void clearRemovesEverything()
    {
        fillNumbered(3);
        QSignalSpy reset(m_list.get(), &QAbstractItemModel::modelReset);
        m_list->clear();
        QCOMPARE(m_list->count(), 0);
        QCOMPARE(m_list->rowCount(), 0);
        QCOMPARE(reset.count(), 1);
        m_list->appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        QCOMPARE(m_list->text(0, CaptureList::ItemColumn), QStringLiteral("0001"));
    }

    void comments()
    {
        fillNumbered(3);
        QSignalSpy changed(m_list.get(), &QAbstractItemModel::dataChanged);
        m_list->setComment(0, QStringLiteral("Wide, slow"));
        QVERIFY(m_list->setLastComment(QStringLiteral("Keep")));
        QCOMPARE(column(*m_list, CaptureList::CommentColumn), QStringList({"Wide, slow", "", "Keep"}));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).value<QModelIndex>(), m_list->index(2, CaptureList::CommentColumn));
    }

    void lastCommentOnEmptyList()
    {
        QVERIFY(!m_list->setLastComment(QStringLiteral("Keep")));
        QCOMPARE(m_list->count(), 0);
    }

    void sortByColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("sorted");
        // Item numbers sort by characters: the ten-thousandth row lands between 1000 and 1001.
        QTest::newRow("items") << int(CaptureList::ItemColumn) << QStringList{"1001", "10000", "0002", "1000"}
                               << QStringList{"0002", "1000", "10000", "1001"};
        // a-z compare as A-Z; equal texts keep their order.
        QTest::newRow("letters") << int(CaptureList::CommentColumn) << QStringList{"beta", "Alpha", "alpha", "Beta"}
                                 << QStringList{"Alpha", "alpha", "beta", "Beta"};
        // Otherwise by character code: '_' (5F) after 'A' (41), which is what 'a' compares as.
        QTest::newRow("underscore") << int(CaptureList::CommentColumn) << QStringList{"_x", "ax"}
                                    << QStringList{"ax", "_x"};
        QTest::newRow("accented letters not folded") << int(CaptureList::CommentColumn)
                                                     << QStringList{QStringLiteral("\u00e9"), QStringLiteral("z"), QStringLiteral("\u00c9")}
                                                     << QStringList{QStringLiteral("z"), QStringLiteral("\u00c9"), QStringLiteral("\u00e9")};
        QTest::newRow("prefix first") << int(CaptureList::ReaderColumn) << QStringList{"10:00:01", "10:00"}
                                      << QStringList{"10:00", "10:00:01"};
        // Texts too long or wide to be kept inside the row sort with the others.
        QTest::newRow("long and wide texts") << int(CaptureList::CameraColumn)
                                             << QStringList{QStringLiteral("00000000000000000003"), QStringLiteral("0002"), QStringLiteral("\u20ac"), QStringLiteral("0001")}
                                             << QStringList{QStringLiteral("00000000000000000003"), QStringLiteral("0001"), QStringLiteral("0002"), QStringLiteral("\u20ac")};
    }

    void sortByColumn()
    {
        QFETCH(int, column);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, sorted);
        for (int i = 0; i < texts.size(); ++i) {
            Row row = eventRow(QStringLiteral("%1").arg(i + 1, 4, 10, QLatin1Char('0')), QStringLiteral("0001"),
                            QStringLiteral("10:00:00:00"));
            QStringList fields{row.item, row.camera, row.reader, row.generator, row.comment};
            fields[column] = texts[i];
            m_list->appendRow(Row{fields[0], fields[1], fields[2], fields[3], fields[4]});
        }
        m_list->sortByColumn(column);
        QCOMPARE(m_list->sortColumn(), column);
        QCOMPARE(::CaptureFixtures::column(*m_list, column), sorted);
    }

    // Whole rows move together, a selected row stays selected, later rows go to the end.
    void sortMovesWholeRows()
    {
        fill(*m_list, {eventRow("0001", "0004", "10:00:03:00", "c"), eventRow("0002", "0001", "10:00:01:00", "a"),
                       eventRow("0003", "0002", "10:00:02:00", "b")});
        const QPersistentModelIndex selected = m_list->index(0, CaptureList::CommentColumn);
        m_list->sort(CaptureList::CameraColumn, Qt::DescendingOrder); // a header click: always ascending
        QCOMPARE(rowsOf(*m_list), Rows({eventRow("0002", "0001", "10:00:01:00", "a"), eventRow("0003", "0002", "10:00:02:00", "b"),
                                        eventRow("0001", "0004", "10:00:03:00", "c")}));
        QCOMPARE(selected.row(), 2);
        m_list->appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        QCOMPARE(m_list->text(3, CaptureList::ItemColumn), QStringLiteral("0004"));
    }

    void compareTexts_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("sign");
        QTest::newRow("equal") << "0001" << "0001" << 0;
        QTest::newRow("case of a-z ignored") << "Cam" << "cAM" << 0;
        QTest::newRow("less") << "0001" << "0002" << -1;
        QTest::newRow("greater") << "b" << "A" << 1;
        QTest::newRow("shorter first") << "ab" << "abc" << -1;
    }

    void compareTexts()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, sign);
        const int result = CaptureList::compareTexts(a, b);
        QCOMPARE((result > 0) - (result < 0), sign);
        const int reverse = CaptureList::compareTexts(b, a);
        QCOMPARE((reverse > 0) - (reverse < 0), -sign);
    }

    void selectionCaption_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("caption");
        QTest::newRow("two rows") << QList<int>{3, 4} << "M3C2";
        QTest::newRow("first is the lowest") << QList<int>{7, 1, 4} << "M1C3";
        QTest::newRow("nothing") << QList<int>{} << "invalid";
    }

    void selectionCaption()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QString, caption);
        QCOMPARE(CaptureList::selectionCaption(selected), caption);
    }

    // Texts that do not fit the compact row come back exactly, and survive moves of the rows.
    void textsOutsideTheCompactRow()
    {
        const Rows rows{{"0001", "0001", "10:00:00:00", "10:00:00:00", ""},
                        {"123456789", "0003", "10:00:00:00:00:00", "10:00:01:00", QStringLiteral("caf\u00e9 \u20ac")},
                        {"", QStringLiteral("\u20ac"), "", "", ""},
                        {QStringLiteral("\u00e9t\u00e9"), "0002", "10:00:02:00", "10:00:02:00", "x"}};
        fill(*m_list, rows);
        QCOMPARE(rowsOf(*m_list), rows);
        m_list->sortByColumn(CaptureList::CommentColumn); // the two empty comments first
        QCOMPARE(rowsOf(*m_list), Rows({rows[0], rows[2], rows[1], rows[3]}));
        m_list->deleteRows({0, 1});
        QCOMPARE(rowsOf(*m_list), Rows({rows[1], rows[3]}));
    }

    // A batch announces its rows to views as one insertion, numbering still from the real count.
    void appendBatch()
    {
        fillNumbered(2);
        QSignalSpy inserted(m_list.get(), &QAbstractItemModel::rowsInserted);
        {
            CaptureList::AppendBatch batch(*m_list);
            for (int i = 0; i < 1000; ++i)
                m_list->appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
            QCOMPARE(m_list->count(), 1002);
            QCOMPARE(m_list->rowCount(), 2);
            QCOMPARE(inserted.count(), 0);
        }
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 2);
        QCOMPARE(inserted.at(0).at(2).toInt(), 1001);
        QCOMPARE(m_list->rowCount(), 1002);
        QCOMPARE(m_list->text(1001, CaptureList::ItemColumn), QStringLiteral("1002"));
    }

    // Deferred: a burst of events reaches views once the event loop runs; any other change
    // announces the pending rows first.
    void deferredInserts()
    {
        m_list->setDeferredInserts(true);
        QSignalSpy inserted(m_list.get(), &QAbstractItemModel::rowsInserted);
        fillNumbered(3);
        QCOMPARE(inserted.count(), 0);
        QTRY_COMPARE(inserted.count(), 1);
        QCOMPARE(m_list->rowCount(), 3);

        fillNumbered(2);
        m_list->deleteRows({0});
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(m_list->rowCount(), 4);
        QCOMPARE(column(*m_list, CaptureList::ItemColumn), QStringList({"0002", "0003", "0004", "0005"}));
        QCoreApplication::processEvents();
        QCOMPARE(inserted.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCaptureList)
#include "tst_capture_list.moc"
