// Every window and dialog of the program shows its texts whole: each label, button, check box,
// group box title, header and fixed table cell gets the room its text takes in the font in use;
// and every row of every table and list in them can be brought into view and selected.
// Run on a real display at several scales (QT_SCALE_FACTOR) and with a larger font
// (CORVANE_TEST_FONT_POINTS: the system font and the capture window's desktop font),
// as the suite registers it; the windows are placed as at the program's start, so a window
// shrunk to a small logical screen is measured as shrunk.

#include "DialogScript.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "KxSettingsForm.h"
#include "ProgramWindows.h"
#include "TextFit.h"
#include "WindowFixture.h"
#include "CameraTable.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"
#include "MidiIn.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTreeView>
#include <QFileDialog>
#include <QHash>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTest>
#include <QWheelEvent>

#include <functional>
#include <memory>

class TestTextFits : public QObject {
    Q_OBJECT

private:
    // What is checked in a shown window: a line for each fault found, none when all is well.
    using Check = std::function<QStringList(QWidget *)>;
    // Brings a window up in a state worth checking, runs the check on it, and puts it away.
    using WindowCase = std::function<QStringList(const Check &)>;

    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<ProgramWindows> m_windows;
    Tedlf *m_edlf = nullptr;
    Tmidiiof *m_midiiof = nullptr;
    QHash<QString, WindowCase> m_cases;

    // Events lost that the capture window is told of: a long count, as a day of a full MIDI line
    // with nobody reading could lose.
    static constexpr quint64 ManyLostEvents = 987654321;
    // Events the device window's input loses in the test: a ring of 4 overflowed by this many.
    static constexpr int DeviceLostEvents = 99999;

    static QStringList shown(QWidget *window, const Check &check)
    {
        if (!QTest::qWaitForWindowExposed(window))
            return {QStringLiteral("%1 was never shown").arg(window->objectName())};
        // A window may still be settling (a file list filling, a frame coming): what counts is
        // the window once it has.
        QStringList faults;
        const bool settled = QTest::qWaitFor([&] {
            faults = check(window);
            return faults.isEmpty();
        }, 2000);
        Q_UNUSED(settled); // the faults still there are the answer
        return faults;
    }

    // Checks the modal dialog that open brings up, then closes it.
    static QStringList inDialog(const Check &check, const std::function<void()> &open)
    {
        QStringList faults{QStringLiteral("no dialog came up")};
        DialogScript script;
        script.then([&faults, &check](QDialog *dialog) {
            faults = shown(dialog, check);
            dialog->reject();
        });
        open();
        return faults;
    }

    // The rows of every table and list shown in the window that cannot be reached: each cell is
    // brought into view as the view does for the keyboard and the scroll bars (scrollTo) and must
    // then lie within the viewport; each row with a cell to select, made the current one, must be
    // selected and in view; and rows that do not all fit at once need a vertical scroll bar for
    // the mouse.
    static QStringList unreachableRows(QWidget *window)
    {
        QStringList faults;
        QList<QAbstractItemView *> views = window->findChildren<QAbstractItemView *>();
        for (QAbstractItemView *view : std::as_const(views)) {
            // A header is a view of its own; its sections are no rows.
            if (!view->isVisible() || view->window() != window || !view->model() || qobject_cast<QHeaderView *>(view))
                continue;
            const QAbstractItemModel *model = view->model();
            const QModelIndex root = view->rootIndex();
            const int rows = model->rowCount(root);
            if (rows == 0 || model->columnCount(root) == 0)
                continue;
            const QString name = TextFit::pathOf(view);
            const QRect viewport = view->viewport()->rect();
            auto hiddenRow = [&](int row) {
                if (auto *table = qobject_cast<QTableView *>(view))
                    return table->isRowHidden(row);
                if (auto *tree = qobject_cast<QTreeView *>(view))
                    return tree->isRowHidden(row, root);
                if (auto *list = qobject_cast<QListView *>(view))
                    return list->isRowHidden(row);
                return false;
            };
            auto hiddenColumn = [&](int column) {
                if (auto *table = qobject_cast<QTableView *>(view))
                    return table->isColumnHidden(column);
                if (auto *tree = qobject_cast<QTreeView *>(view))
                    return tree->isColumnHidden(column);
                return false;
            };
            int column = 0;
            while (column + 1 < model->columnCount(root) && hiddenColumn(column))
                ++column;
            // Within the viewport from top to bottom, and not beside it.
            // Within the viewport from top to bottom, and across unless the cell is wider than it.
            auto inView = [&](const QModelIndex &index) {
                const QRect cell = view->visualRect(index);
                const bool across = cell.width() > viewport.width()
                                        ? cell.right() >= viewport.left() && cell.left() <= viewport.right()
                                        : cell.left() >= viewport.left() && cell.right() <= viewport.right();
                return !cell.isEmpty() && cell.top() >= viewport.top() && cell.bottom() <= viewport.bottom() && across;
            };
            auto where = [&](const QModelIndex &index) {
                const QRect cell = view->visualRect(index);
                const QScrollBar *bar = view->verticalScrollBar();
                return QStringLiteral("at x %1..%2, y %3..%4 of a viewport %5x%6, vertical scroll bar %7")
                    .arg(cell.left())
                    .arg(cell.right())
                    .arg(cell.top())
                    .arg(cell.bottom())
                    .arg(viewport.width())
                    .arg(viewport.height())
                    .arg(bar->isVisible() ? QStringLiteral("shown at %1 of 0..%2").arg(bar->value()).arg(bar->maximum())
                                          : QStringLiteral("hidden"));
            };

            // The scroll bar: shown whenever some row lies beyond the viewport at the top.
            view->scrollToTop();
            int lastShown = rows - 1;
            while (lastShown > 0 && hiddenRow(lastShown))
                --lastShown;
            const QModelIndex last = model->index(lastShown, column, root);
            if (!inView(last) && !view->verticalScrollBar()->isVisible())
                faults << QStringLiteral("%1: row %2 of %3 lies below the viewport with no scroll bar to reach it (%4)")
                              .arg(name)
                              .arg(lastShown)
                              .arg(rows)
                              .arg(where(last));

            // Each cell brought into view; one line for a row, of its first cell that is not.
            for (int row = 0; row < rows; ++row) {
                if (hiddenRow(row))
                    continue;
                for (int c = column; c < model->columnCount(root); ++c) {
                    if (hiddenColumn(c))
                        continue;
                    const QModelIndex index = model->index(row, c, root);
                    view->scrollTo(index);
                    if (!inView(index)) {
                        faults << QStringLiteral("%1: row %2 of %3, column %4, cannot be brought into view (%5)")
                                      .arg(name)
                                      .arg(row)
                                      .arg(rows)
                                      .arg(c)
                                      .arg(where(index));
                        break;
                    }
                }
            }

            // Each row that has a cell to select made the current one, as a click or an arrow key
            // does: selected, and in view.
            if (view->selectionMode() == QAbstractItemView::NoSelection)
                continue;
            for (int row = 0; row < rows; ++row) {
                if (hiddenRow(row))
                    continue;
                QModelIndex cell;
                for (int c = 0; c < model->columnCount(root) && !cell.isValid(); ++c) {
                    const QModelIndex index = model->index(row, c, root);
                    const Qt::ItemFlags flags = model->flags(index);
                    if (!hiddenColumn(c) && (flags & Qt::ItemIsSelectable) && (flags & Qt::ItemIsEnabled))
                        cell = index;
                }
                if (!cell.isValid())
                    continue;
                view->setCurrentIndex(cell);
                if (!view->selectionModel()->isSelected(cell))
                    faults << QStringLiteral("%1: row %2 of %3 cannot be selected").arg(name).arg(row).arg(rows);
                else if (!inView(cell))
                    faults << QStringLiteral("%1: row %2 of %3, selected, is not in view (%4)")
                                  .arg(name)
                                  .arg(row)
                                  .arg(rows)
                                  .arg(where(cell));
            }
            view->scrollToTop();
        }
        return faults;
    }

    QStringList desktopSetupPage(const Check &check, int page)
    {
        TKxSettingsForm form(*SettingsFile);
        form.show();
        if (page != TKxSettingsForm::PageInternal) {
            form.ChangeControlPage(page);
            if (page == TKxSettingsForm::PageExport)
                form.EXP_Label->setText(QStringLiteral("There are no saved settings to export."));
        } else {
            form.UserListBox->setCurrentRow(0);
        }
        const QStringList faults = shown(&form, check);
        form.close();
        return faults;
    }

    QStringList passFailPage(const Check &check)
    {
        TKxDlg dialog;
        dialog.Pages->setCurrentIndex(TKxDlg::PagePassFail);
        dialog.show();
        return shown(&dialog, check);
    }

    // The device window with its widest texts: a late timecode, two-digit counters and revision
    // lines of the long form with wide hexadecimal digits.
    void showDeviceWindow()
    {
        m_midiiof->show();
        m_midiiof->setTcpoz(QStringLiteral("23:58:58:28"));
        m_midiiof->setMtccount(QStringLiteral("99"));
        m_midiiof->setMmccount(QStringLiteral("88"));
        m_midiiof->setRevision(QStringLiteral("Core DB.DB Build DD.BD HW 8D.DD"),
                               QStringLiteral("Main DD.DB Build BD.DD Vexa-16"));
    }

    // Both devices open, the input's ring overflowed, then both unplugged: the device window
    // reads "NO DEVICE" with a status line of both devices gone and the events lost, and tells
    // the capture window, which reads "NO DEVICE" with the count beside it.
    bool devicesGoneWithEventsLost()
    {
        Tmidiiof &w = *m_midiiof;
        if (w.OpenIn->isChecked())
            w.OpenIn->setChecked(false);
        w.MidiInput1->setCapacity(4);
        w.MidiInputSelectEnter();
        w.MidiOutputselectEnter();
        w.MidiInputSelect->setCurrentIndex(w.MidiInputSelect->findText(QStringLiteral("Orvex In")));
        w.MidiOutputselect->setCurrentIndex(w.MidiOutputselect->findText(QStringLiteral("Orvex Out")));
        w.OpenIn->setChecked(true);
        w.OpenOut->setChecked(true);
        if (!w.OpenIn->isChecked() || !w.OpenOut->isChecked()) {
            qWarning("the devices did not open");
            return false;
        }
        // A note sent while nobody drains: past the ring's 4, every one is lost.
        const QByteArray note = QByteArray::fromHex("903C40");
        for (int n = 0; n < 4 + DeviceLostEvents; ++n)
            m_windows->midi().send(0, note);
        m_windows->midi().unplugInput(0);
        m_windows->midi().unplugOutput(0);
        return QTest::qWaitFor([&] {
            return w.tcpoz->text() == Tmidiiof::NoDeviceText && w.devicestate->text().contains(QStringLiteral("lost"))
                   && w.devicestate->text().count(QStringLiteral("has gone")) == 2
                   && m_edlf->tcpoz->text() == Tedlf::NoDeviceText && m_edlf->lostevents->isVisible();
        }, 5000);
    }

    // The devices plugged in again (the device window opens them itself); the events lost stay
    // counted.
    bool devicesBack()
    {
        m_windows->midi().plugInput(0);
        m_windows->midi().plugOutput(0);
        return QTest::qWaitFor([this] { return m_edlf->tcpoz->text() != Tedlf::NoDeviceText; }, 5000);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->isValid());
        // A larger font: the system's (Qt's own dialogs take it) and the desktop's for the capture
        // window, as a desktop saved with a larger window font holds it.
        const int points = qEnvironmentVariableIntValue("CORVANE_TEST_FONT_POINTS");
        if (points > 0) {
            QFont font = QApplication::font();
            font.setPointSize(points);
            QApplication::setFont(font);
            m_folder->presetCurrent({{QStringLiteral("<FORM>edlf_FontSize"), QString::number(points)},
                                     {QStringLiteral("<FORM>edlf_FontName"), QStringLiteral("MS Sans Serif")}});
        }
        m_windows = std::make_unique<ProgramWindows>();
        QVERIFY(m_windows->open());
        m_edlf = &m_windows->edlf();
        m_midiiof = &m_windows->midiiof();
        for (int i = 0; i < 12; ++i)
            m_edlf->AddGpoEvent(QStringLiteral("23:59:5%1:24").arg(i % 10), QStringLiteral("23:59:59:29"),
                                QStringLiteral("%1").arg(1 << (i % 16), 4, 16, QLatin1Char('0')));
        m_edlf->captureList().announcePendingRows();
        m_edlf->setTimecode(QStringLiteral("23:59:59:29"));

        m_cases = {
            {QStringLiteral("capture window"), [this](const Check &check) { return shown(m_edlf, check); }},
            {QStringLiteral("capture window: no device, events lost"),
             [this](const Check &check) {
                 // As the device side tells it.
                 m_edlf->setDeviceHealth(true, ManyLostEvents);
                 const QStringList faults = shown(m_edlf, check);
                 m_edlf->setDeviceHealth(false, 0);
                 return faults;
             }},
            {QStringLiteral("device window"),
             [this](const Check &check) {
                 showDeviceWindow();
                 const QStringList faults = shown(m_midiiof, check);
                 m_midiiof->hide();
                 return faults;
             }},
            {QStringLiteral("device window: devices gone, events lost"),
             [this](const Check &check) {
                 showDeviceWindow();
                 if (!devicesGoneWithEventsLost()) {
                     const QString hidden = m_edlf->lostevents->isVisible() ? QString() : QStringLiteral(" (hidden)");
                     return QStringList{QStringLiteral("the windows never showed the devices gone and events lost: "
                                                       "device window \"%1\", \"%2\"; "
                                                       "capture window \"%3\", \"%4\"%5")
                                            .arg(m_midiiof->tcpoz->text(), m_midiiof->devicestate->text(),
                                                 m_edlf->tcpoz->text(), m_edlf->lostevents->text(), hidden)};
                 }
                 QStringList faults = shown(m_midiiof, check);
                 faults += shown(m_edlf, check);
                 if (!devicesBack())
                     faults << QStringLiteral("the devices plugged in again were not opened again: "
                                              "device window \"%1\", \"%2\", input %3, output %4; "
                                              "capture window \"%5\"")
                                   .arg(m_midiiof->tcpoz->text(), m_midiiof->devicestate->text())
                                   .arg(m_midiiof->OpenIn->isChecked())
                                   .arg(m_midiiof->OpenOut->isChecked())
                                   .arg(m_edlf->tcpoz->text());
                 m_midiiof->hide();
                 return faults;
             }},
            {QStringLiteral("Desktop Setup: desktops"),
             [this](const Check &check) { return desktopSetupPage(check, TKxSettingsForm::PageInternal); }},
            {QStringLiteral("Desktop Setup: import"),
             [this](const Check &check) { return desktopSetupPage(check, TKxSettingsForm::PageImport); }},
            {QStringLiteral("Desktop Setup: export"),
             [this](const Check &check) { return desktopSetupPage(check, TKxSettingsForm::PageExport); }},
            {QStringLiteral("message"),
             [](const Check &check) {
                 return inDialog(check, [] {
                     DlgMessage(QStringLiteral("The capture journal of the previous run cannot be recovered. "
                                               "It was kept as /home/operator/corvane.journal.2025-03-14"));
                 });
             }},
            {QStringLiteral("question"),
             [this](const Check &check) {
                 return inDialog(check, [this] {
                     DlgQuery(m_edlf, QStringLiteral("Exit without saving EDL?"), QStringLiteral("Exit File"));
                 });
             }},
            {QStringLiteral("text entry"),
             [this](const Check &check) {
                 return inDialog(check, [this] {
                     QString value;
                     DlgStringEntry(m_edlf, dtDefault, QStringLiteral("Enter File Name Details"),
                                    QStringLiteral("Title Details"), QStringLiteral("show"), value);
                 });
             }},
            {QStringLiteral("password"),
             [this](const Check &check) {
                 return inDialog(check, [this] {
                     DlgCheckPassword(m_edlf, QStringLiteral("Enter Password to Overwrite \"Studio B\"."),
                                      QStringLiteral("Import desktop setup"), QString());
                 });
             }},
            {QStringLiteral("wrong password"), [this](const Check &check) { return passFailPage(check); }},
            {QStringLiteral("Save GPO dialog"),
             [this](const Check &check) { return inDialog(check, [this] { m_edlf->savegpoClick(); }); }},
            {QStringLiteral("Load GPO dialog"),
             [this](const Check &check) { return inDialog(check, [this] { m_edlf->LoadGPO1Click(); }); }},
            {QStringLiteral("Import dialog"),
             [](const Check &check) {
                 TKxSettingsForm form(*SettingsFile);
                 return inDialog(check, [&form] { form.IMP_BrowseClick(); });
             }},
            {QStringLiteral("Export dialog"),
             [](const Check &check) {
                 TKxSettingsForm form(*SettingsFile);
                 form.ChangeControlPage(TKxSettingsForm::PageExport);
                 return inDialog(check, [&form] { form.EXP_B_OKClick(); });
             }},
        };
    }

    void cleanupTestCase()
    {
        m_edlf = nullptr;
        m_midiiof = nullptr;
        m_windows.reset();
        m_folder.reset();
    }

    // The checker itself: a widget given less room than its text takes is reported, the same
    // widget given the room it asks for is not.
    void clippedTextIsReported_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("tooSmall");
        const char *kinds[] = {"label too narrow", "label too low", "push button", "check box", "group box title",
                               "table header section", "fixed table cell"};
        for (const char *kind : kinds) {
            QTest::addRow("%s, too small", kind) << QString::fromLatin1(kind) << true;
            QTest::addRow("%s, with room", kind) << QString::fromLatin1(kind) << false;
        }
    }

    void clippedTextIsReported()
    {
        QFETCH(QString, kind);
        QFETCH(bool, tooSmall);
        const QString text = QStringLiteral("Camera sixteen");
        QWidget window;
        window.setObjectName(QStringLiteral("sample"));
        window.resize(600, 300);
        QWidget *measured = nullptr;
        // The room a widget asks for, or that less half the text's width (or, "too low", half
        // its line's height).
        auto room = [&](const QWidget *widget, QSize asked) {
            const QFontMetrics metrics = widget->fontMetrics();
            if (tooSmall && kind == QLatin1String("label too low"))
                asked.setHeight(asked.height() - metrics.height() / 2 - 1);
            else if (tooSmall)
                asked.setWidth(asked.width() - metrics.horizontalAdvance(text) / 2);
            return asked;
        };
        if (kind.startsWith(QLatin1String("label"))) {
            auto *label = new QLabel(text, &window);
            label->resize(room(label, label->sizeHint()));
            measured = label;
        } else if (kind == QLatin1String("push button")) {
            auto *button = new QPushButton(text, &window);
            button->resize(room(button, button->sizeHint()));
            measured = button;
        } else if (kind == QLatin1String("check box")) {
            auto *box = new QCheckBox(text, &window);
            box->resize(room(box, box->sizeHint()));
            measured = box;
        } else if (kind == QLatin1String("group box title")) {
            // A box without a layout asks for no room: its title's width and the frame's indent
            // on either side.
            auto *box = new QGroupBox(text, &window);
            box->resize(room(box, QSize(box->fontMetrics().horizontalAdvance(text) + 32, 80)));
            measured = box;
        } else {
            auto *table = new QTableWidget(2, 2, &window);
            table->resize(560, 200);
            if (kind == QLatin1String("table header section")) {
                table->setHorizontalHeaderLabels({text, QStringLiteral("Edit Type")});
                measured = table->horizontalHeader();
            } else {
                table->horizontalHeader()->hide();
                auto *item = new QTableWidgetItem(text);
                item->setFlags(Qt::ItemIsEnabled); // a fixed cell, as headings and camera numbers are
                table->setItem(0, 0, item);
                measured = table;
            }
            table->resizeColumnToContents(0);
            table->setColumnWidth(0, room(table, QSize(table->columnWidth(0), 0)).width());
        }
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QStringList clipped = TextFit::clippedTexts(&window);
        const QString path = TextFit::pathOf(measured);
        const bool reported = std::any_of(clipped.begin(), clipped.end(), [&](const QString &line) {
            return line.startsWith(path + QLatin1Char(':')) || line.startsWith(path + QLatin1Char(' '));
        });
        QVERIFY2(reported == tooSmall, qPrintable(QStringLiteral("%1 (%2x%3) %4; reported:\n%5")
                                                      .arg(path)
                                                      .arg(measured->width())
                                                      .arg(measured->height())
                                                      .arg(tooSmall ? QStringLiteral("was not reported")
                                                                    : QStringLiteral("was reported"))
                                                      .arg(clipped.join(QLatin1Char('\n')))));
        if (!tooSmall)
            QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
    }

    void everyTextShowsWhole_data() { addWindowRows(); }

    void everyTextShowsWhole()
    {
        QFETCH(QString, window);
        QVERIFY(m_cases.contains(window));
        const QStringList clipped = m_cases.value(window)(&TextFit::clippedTexts);
        QVERIFY2(clipped.isEmpty(), qPrintable(where() + clipped.join(QLatin1Char('\n'))));
    }

    void everyRowCanBeReached_data() { addWindowRows(); }

    void everyRowCanBeReached()
    {
        QFETCH(QString, window);
        QVERIFY(m_cases.contains(window));
        const QStringList unreachable = m_cases.value(window)(&unreachableRows);
        QVERIFY2(unreachable.isEmpty(), qPrintable(where() + unreachable.join(QLatin1Char('\n'))));
    }

    // The camera table as the operator works it in the capture window as placed: the arrow keys
    // walk down through all 16 cameras, each one shown whole as it becomes the current one, and
    // a name and an edit type typed into each go into its cells; the wheel brings the last
    // camera into view from the top.
    void everyCameraCanBeEditedByKeysAndReachedByTheWheel()
    {
        QTableWidget *grid = m_edlf->cameragrid;
        m_edlf->show();
        m_edlf->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_edlf));
        QStringList texts;
        for (int camera = 1; camera <= CameraTable::CameraCount; ++camera)
            texts << grid->item(camera, 1)->text() << grid->item(camera, 2)->text();

        const QRect viewport = grid->viewport()->rect();
        auto shownWhole = [&](int row, int column) {
            const QRect cell = grid->visualRect(grid->model()->index(row, column));
            return !cell.isEmpty() && viewport.contains(cell);
        };
        auto placeOf = [&](int row, int column) {
            const QRect cell = grid->visualRect(grid->model()->index(row, column));
            const QScrollBar *bar = grid->verticalScrollBar();
            return QStringLiteral("%1camera %2, column %3 at y %4..%5 of a viewport %6 high, scroll bar %7")
                .arg(where())
                .arg(row)
                .arg(column)
                .arg(cell.top())
                .arg(cell.bottom())
                .arg(viewport.height())
                .arg(bar->isVisible() ? QStringLiteral("at %1 of 0..%2").arg(bar->value()).arg(bar->maximum())
                                      : QStringLiteral("hidden"));
        };
        // Keys go where the focus is, as they would from the keyboard.
        auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };

        grid->scrollToTop();
        grid->setFocus();
        grid->setCurrentCell(1, 1);
        QTRY_COMPARE(QApplication::focusWidget(), grid);
        for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
            if (camera > 1)
                press(Qt::Key_Down);
            for (int column = 1; column <= 2; ++column) {
                if (column == 2)
                    press(Qt::Key_Right);
                QCOMPARE(grid->currentRow(), camera);
                QCOMPARE(grid->currentColumn(), column);
                QVERIFY2(shownWhole(camera, column), qPrintable(placeOf(camera, column)));
                // Typing starts the editor, in the cell and in view.
                const QString text = QStringLiteral("%1%2").arg(column == 1 ? QLatin1Char('R') : QLatin1Char('E')).arg(camera);
                QTest::keyClick(grid, text.at(0).toLatin1());
                QWidget *editor = grid->indexWidget(grid->currentIndex());
                QVERIFY2(editor && editor->isVisible(), qPrintable(placeOf(camera, column)));
                QVERIFY2(viewport.contains(editor->geometry()), qPrintable(placeOf(camera, column)));
                QTest::keyClicks(editor, text.mid(1));
                QTest::keyClick(editor, Qt::Key_Return);
                QCOMPARE(grid->item(camera, column)->text(), text);
                QTRY_COMPARE(QApplication::focusWidget(), grid);
            }
            press(Qt::Key_Left);
        }
        // The table's own values: what a Make would put in an EDL.
        QCOMPARE(m_edlf->cameraTable().reelName(CameraTable::CameraCount), QStringLiteral("R16"));
        QCOMPARE(m_edlf->cameraTable().editType(CameraTable::CameraCount), QStringLiteral("E16"));

        grid->scrollToTop();
        const int last = CameraTable::CameraCount;
        for (int turn = 0; turn < 2 * last && !shownWhole(last, 1); ++turn) {
            const QPointF at = QRectF(viewport).center();
            QWheelEvent wheel(at, grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(grid->viewport(), &wheel);
        }
        QVERIFY2(shownWhole(last, 1), qPrintable(placeOf(last, 1)));

        grid->scrollToTop();
        for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
            grid->item(camera, 1)->setText(texts.at(2 * (camera - 1)));
            grid->item(camera, 2)->setText(texts.at(2 * (camera - 1) + 1));
        }
    }

private:
    static void addWindowRows()
    {
        QTest::addColumn<QString>("window");
        const char *windows[] = {"capture window", "capture window: no device, events lost", "device window",
                                 "device window: devices gone, events lost", "Desktop Setup: desktops",
                                 "Desktop Setup: import", "Desktop Setup: export", "message", "question",
                                 "text entry", "password", "wrong password", "Save GPO dialog", "Load GPO dialog",
                                 "Import dialog", "Export dialog"};
        for (const char *window : windows)
            QTest::newRow(window) << QString::fromLatin1(window);
    }

    static QString where()
    {
        return QStringLiteral("scale %1, font %2 pt:\n")
            .arg(qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")),
                 qEnvironmentVariable("CORVANE_TEST_FONT_POINTS", QStringLiteral("8")));
    }
};

QTEST_MAIN(TestTextFits)
#include "tst_text_fits.moc"
