// A test entry of the program: the real program (runCorvane, with its capture window, device
// window and capture journal) on in-process MIDI devices, driven line by line from standard
// input. A test starts it as a process of its own, so that it can kill it like a crash would.
//
//   corvane-testhost [ok|cancel ...]
//
// The arguments answer the program's questions in order (OK or Cancel); a question with no
// answer left, and every message, is dismissed. "ok+events" answers OK after the interface has
// sent three capture events while the question was open and the window has taken them (or,
// when they never arrive, after printing "error: ..." once it has waited 10 s). Devices: input "Orvex In" and output "Orvex Out"
// of the loopback service; midiio.ini in the program folder chooses them.
//
// Commands, one a line:
//   event MASK HH:MM:SS:FF   the interface sends a capture event (MASK in hexadecimal)
//   comment ROW TEXT         Comment on row ROW, its dialog answered with TEXT
//   delete ROW               Delete on row ROW
//   rows                     prints the dialogs seen since the last report ("dialog
//                            <caption>|<text>"), the rows the list shows ("row" and the five
//                            texts, tab-separated), then "rows N"
//   deleteall                the Delete All button
//   undo                     menu Edit, "Undo"
//   close                    closes the capture window as its close box does
//   exit                     the Exit button ("Exit without saving EDL?" answered OK)
// and, for pictures of the windows (scripts/screenshots):
//   reel N NAME              camera N's reel name in the camera table
//   details TEXT             the file-name details ("filename")
//   make                     makes the EDL of the rows (as "Make", without its dialog)
//   timecode HH:MM:SS:FF     the interface sends a full-frame timecode message
//   revision                 the interface sends its revision reply
//   usb                      shows or hides the MIDI device window ("USB")
//   desktop                  opens the Desktop Setup window ("Save/Load Desktop")
//   settle MS                lets the program run for MS milliseconds
//   shot FILE NAME           saves a PNG of the screen under the window named NAME, frame
//                            included; prints "shot FILE"
// Prints "ready" once the capture window is shown.

#include "CorvaneProgram.h"
#include "DialogScript.h"
#include "ErrorReport.h"
#include "LoopbackMidiService.h"
#include "OrvexSim.h"
#include "KxSettings.h"
#include "CaptureWindow.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

class Driver : public QObject {
public:
    Driver(Tedlf &window, LoopbackMidiService &midi, int input, DialogScript &dialogs)
        : m_window(window), m_midi(midi), m_input(input), m_dialogs(dialogs), m_stdin(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(&m_stdin, &QSocketNotifier::activated, this, &Driver::readInput);
    }

    void reportDialogs()
    {
        const QList<DialogScript::Shown> &shown = m_dialogs.shown();
        for (; m_reported < shown.size(); ++m_reported)
            say(QStringLiteral("dialog ") + shown.at(m_reported).caption + QLatin1Char('|') + shown.at(m_reported).text);
    }

private:
    void readInput()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_stdin.setEnabled(false); // the test went away; the program runs on until killed
            return;
        }
        m_line.append(buffer, n);
        for (qsizetype end; (end = m_line.indexOf('\n')) >= 0;) {
            m_commands.append(QString::fromUtf8(m_line.left(end)));
            m_line.remove(0, end + 1);
        }
        if (!m_busy)
            runNext();
    }

    // One command at a time, each from the event loop: a command that opens a window modally
    // leaves the commands after it to run in that window's loop.
    void runNext()
    {
        if (m_commands.isEmpty()) {
            m_busy = false;
            return;
        }
        m_busy = true;
        const QString line = m_commands.takeFirst();
        if (line.startsWith(QLatin1String("settle "))) {
            QTimer::singleShot(line.section(QLatin1Char(' '), 1).toInt(), this, &Driver::runNext);
            return;
        }
        runGuarded([this, &line] { run(line); });
        QTimer::singleShot(0, this, &Driver::runNext);
    }

    void select(int row)
    {
        m_window.List1->selectionModel()->select(m_window.List1->model()->index(row, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    void run(const QString &line)
    {
        const QString command = line.section(QLatin1Char(' '), 0, 0);
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (command == QLatin1String("event")) {
            const auto time = OrvexSim::parseTimecode(rest.section(QLatin1Char(' '), 1, 1), 25);
            bool ok = false;
            const uint mask = rest.section(QLatin1Char(' '), 0, 0).toUInt(&ok, 16);
            if (!time || !ok || mask > 0xFFFF) {
                say(QStringLiteral("error: bad event: ") + line);
                return;
            }
            const OrvexSim::Message message = OrvexSim::captureEvent(std::uint16_t(mask), *time);
            if (!m_midi.send(m_input, QByteArrayView(message.data(), qsizetype(message.size()))))
                say(QStringLiteral("error: the input is not open"));
        } else if (command == QLatin1String("comment")) {
            select(rest.section(QLatin1Char(' '), 0, 0).toInt());
            m_dialogs.then(DialogScript::enter(rest.section(QLatin1Char(' '), 1)));
            m_window.CommentClick();
        } else if (command == QLatin1String("delete")) {
            select(rest.toInt());
            m_window.DeleteClick();
        } else if (command == QLatin1String("rows")) {
            reportDialogs();
            const QAbstractItemModel *model = m_window.List1->model();
            for (int r = 0; r < model->rowCount(); ++r) {
                QStringList texts{QStringLiteral("row")};
                for (int c = 0; c < model->columnCount(); ++c)
                    texts << model->index(r, c).data().toString();
                say(texts.join(QLatin1Char('\t')));
            }
            say(QStringLiteral("rows %1").arg(model->rowCount()));
        } else if (command == QLatin1String("reel")) {
            m_window.cameragrid->item(rest.section(QLatin1Char(' '), 0, 0).toInt(), 1)->setText(rest.section(QLatin1Char(' '), 1));
        } else if (command == QLatin1String("details")) {
            SettingsFile->SetString(QStringLiteral("filename"), rest);
        } else if (command == QLatin1String("make")) {
            m_window.BuildEdl();
        } else if (command == QLatin1String("timecode")) {
            const auto time = OrvexSim::parseTimecode(rest, 25);
            if (!time) {
                say(QStringLiteral("error: bad timecode: ") + line);
                return;
            }
            // Full frame at 25 frames a second: the rate in bits 5 and 6 of the hours.
            const std::uint8_t message[] = {0xF0, 0x7F, 0x7F, 0x01, 0x01, std::uint8_t(time->Hours | 0x20),
                                            std::uint8_t(time->Minutes), std::uint8_t(time->Seconds),
                                            std::uint8_t(time->Frames), 0xF7};
            m_midi.send(m_input, QByteArrayView(message, qsizetype(sizeof message)));
        } else if (command == QLatin1String("revision")) {
            const OrvexSim::Message reply = OrvexSim::revisionReply(OrvexSim::Revision{});
            m_midi.send(m_input, QByteArrayView(reply.data(), qsizetype(reply.size())));
        } else if (command == QLatin1String("usb")) {
            m_window.kusbClick();
        } else if (command == QLatin1String("desktop")) {
            // Modal: opened from the event loop, so that commands go on while it shows.
            QTimer::singleShot(0, &m_window, [this] { m_window.desktop1Click(); });
        } else if (command == QLatin1String("shot")) {
            const QString file = rest.section(QLatin1Char(' '), 0, 0);
            const QString name = rest.section(QLatin1Char(' '), 1);
            QWidget *target = nullptr;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible() && widget->objectName() == name)
                    target = widget;
            }
            if (!target) {
                say(QStringLiteral("error: no window ") + name);
                return;
            }
            const QRect frame = target->frameGeometry();
            const QPixmap picture = target->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            say(picture.save(file) ? QStringLiteral("shot ") + file : QStringLiteral("error: cannot write ") + file);
        } else if (command == QLatin1String("deleteall")) {
            m_window.kdeleteall->click();
        } else if (command == QLatin1String("undo")) {
            m_window.Undo1->trigger();
        } else if (command == QLatin1String("close")) {
            // The window's close message, as its close box sends it.
            m_window.close();
        } else if (command == QLatin1String("exit")) {
            m_dialogs.then(DialogScript::ok());
            m_window.kexitClick();
        } else {
            say(QStringLiteral("error: unknown command: ") + line);
        }
    }

    Tedlf &m_window;
    LoopbackMidiService &m_midi;
    int m_input;
    DialogScript &m_dialogs;
    QSocketNotifier m_stdin;
    QByteArray m_line;
    QStringList m_commands;
    bool m_busy = false;
    qsizetype m_reported = 0;
};

// While a question is open: the interface sends three events, and the window must take them.
void sendDuringQuestion(LoopbackMidiService &midi, int input)
{
    Tedlf *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<Tedlf *>(widget))
            window = found;
    }
    if (!window) {
        say(QStringLiteral("error: no capture window"));
        return;
    }
    const int before = window->captureList().count();
    const std::uint16_t masks[] = {0x0004, 0x0008, 0x0010};
    for (int k = 0; k < 3; ++k) {
        const auto time = OrvexSim::parseTimecode(QStringLiteral("12:00:0%1:00").arg(k), 25);
        const OrvexSim::Message message = OrvexSim::captureEvent(masks[k], *time);
        if (!midi.send(input, QByteArrayView(message.data(), qsizetype(message.size())))) {
            say(QStringLiteral("error: the input is not open while the question is asked"));
            return;
        }
    }
    if (!QTest::qWaitFor([&] { return window->captureList().count() == before + 3; }, 10000))
        say(QStringLiteral("error: %1 of 3 events taken while the question was open")
                .arg(window->captureList().count() - before));
}

} // namespace

int main(int argc, char **argv)
{
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);

    LoopbackMidiService midi;
    const int input = midi.addInput(QStringLiteral("Orvex In"));
    midi.addOutput(QStringLiteral("Orvex Out"));
    setMidiService(&midi);

    DialogScript dialogs;
    for (const QString &answer : QCoreApplication::arguments().mid(1)) {
        if (answer == QLatin1String("ok+events"))
            dialogs.then(DialogScript::during([&midi, input] { sendDuringQuestion(midi, input); }, DialogScript::ok()));
        else
            dialogs.then(answer == QLatin1String("ok") ? DialogScript::ok() : DialogScript::cancel());
    }

    std::unique_ptr<Driver> driver;
    const int status = runCorvane([&](Tedlf &window) {
        driver = std::make_unique<Driver>(window, midi, input, dialogs);
        QTimer::singleShot(0, driver.get(), [&driver] {
            driver->reportDialogs();
            say(QStringLiteral("ready"));
        });
    });
    driver.reset();
    setMidiService(nullptr);
    return status;
}
