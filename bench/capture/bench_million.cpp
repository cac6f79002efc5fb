// A million capture rows end to end, as the operator waits for them: the parts of
// scripts/bench-million.
//
//   bench_million generate CAP.gpo [--rows N]   the capture: each row 1-3 random cameras of 16
//                                               on, one frame apart, a comment every ~100 rows
//   bench_million journal CAP.gpo JOURNAL       the capture journal a run with those rows
//                                               leaves behind when it ends without a clean exit
//   bench_million window OP CAP.gpo [JOURNAL]   one operation in the capture window (offscreen
//                                               unless QT_QPA_PLATFORM says otherwise), in a
//                                               process of its own so that its peak memory is
//                                               its own. OP: loadtest, make, save, makesave,
//                                               recovery. Prints "OP ms=<time> peak_kb=<peak>
//                                               rows=<rows> edl_bytes=<bytes>".
//
// Times run from the operator's action to the window's first paint after it: loadtest from the
// menu item; make from the click of Make, its title prompt answered at once; save from Save EDL's
// writing (no dialog: the file goes where the GPO8 trigger puts it); makesave from the GPO8
// trigger (make, save, clear); recovery from the start of the journal's reading, its question
// answered at once.

#include "AppPaths.h"
#include "CaptureFile.h"
#include "CaptureJournal.h"
#include "CaptureList.h"
#include "ErrorReport.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "SettingsKeys.h"
#include "CaptureWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

int generate(const QString &path, int rows)
{
    std::mt19937 random(19);
    QByteArray out;
    out.reserve(qsizetype(rows) * 48);
    char line[96];
    for (int i = 0; i < rows; ++i) {
        // 1 to 3 cameras of 16, chosen at random.
        quint32 mask = 0;
        const int on = 1 + int(random() % 3);
        while (int(qPopulationCount(mask)) < on)
            mask |= 1u << (random() % 16);
        const int frame = i; // one frame apart, 25 frames a second, from 10:00:00:00
        const int f = frame % 25;
        const int s = (frame / 25) % 60;
        const int m = (frame / 1500) % 60;
        const int h = (10 + frame / 90000) % 24;
        const int n = std::snprintf(line, sizeof line, "%.4d,%.4X,%.2d:%.2d:%.2d:%.2d,%.2d:%.2d:%.2d:%.2d,%s\r\n", i + 1,
                                    mask, h, m, s, f, h, m, s, f, random() % 100 == 0 ? "Wide, slow" : "");
        out.append(line, n);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

int journal(const QString &capture, const QString &path)
{
    CaptureList list;
    CaptureFile::LoadGpoFile(list, capture);
    CaptureJournal journal(path);
    journal.start(list);
    journal.close(); // left behind, as by a run that did not end cleanly
    return 0;
}

// Answers the program's own dialogs (title prompt, recovery question) with OK as soon as they run.
class AnswerOk : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<TKxDlg *>(watched)) {
                QPointer<TKxDlg> guard(dialog);
                QTimer::singleShot(0, this, [guard] {
                    if (guard && guard->isVisible())
                        guard->done(TKxDlg::mrOk);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// Notes the first paint of a widget after arm().
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget *widget) { widget->installEventFilter(this); }
    void arm(QElapsedTimer *clock)
    {
        m_clock = clock;
        m_ms = -1;
    }
    double ms() const { return m_ms; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_clock && m_ms < 0)
            m_ms = double(m_clock->nsecsElapsed()) / 1e6;
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer *m_clock = nullptr;
    double m_ms = -1;
};

// Runs the events until the watched widget has painted.
double untilPainted(PaintWatch &watch, QWidget *widget)
{
    widget->update();
    while (watch.ms() < 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return watch.ms();
}

int window(const QString &op, const QString &capture, const QString &journalPath)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/corvane.def"),
                                       dir.filePath(QStringLiteral("corvane.def")))
        || !QFile::link(QFileInfo(capture).absoluteFilePath(), dir.filePath(CaptureFile::SampleFileName))) {
        std::fprintf(stderr, "cannot prepare a program folder beside %s\n", qPrintable(QCoreApplication::applicationDirPath()));
        return 1;
    }
    AppPaths::setProgramFolder(dir.path());
    AppPaths::setExecutableFileName(QStringLiteral("corvane"));
    setErrorPresenter([](const QString &message) { std::fprintf(stderr, "error: %s\n", qPrintable(message)); });

    AnswerOk answers;
    qApp->installEventFilter(&answers);
    Tedlf w;
    if (SettingsFile)
        SettingsFile->SetString(SettingsKeys::EdlPath, dir.path() + QLatin1Char('/'));
    QElapsedTimer clock;
    double ms = -1;
    const QString journalCopy = dir.filePath(QStringLiteral("corvane.journal"));
    if (op == QLatin1String("recovery")) {
        if (!QFile::copy(journalPath, journalCopy)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(journalPath));
            return 1;
        }
        // As the program starts: the journal is offered back before the window shows.
        clock.start();
        w.StartJournal(journalCopy);
        w.show();
        PaintWatch watch(w.List1->viewport());
        watch.arm(&clock);
        ms = untilPainted(watch, w.List1->viewport());
    } else {
        w.StartJournal(journalCopy);
        w.show();
        QCoreApplication::processEvents();
        PaintWatch list(w.List1->viewport());
        PaintWatch memo(w.Memo1->viewport());
        if (op == QLatin1String("loadtest")) {
            list.arm(&clock);
            clock.start();
            w.loadtest1->trigger();
            ms = untilPainted(list, w.List1->viewport());
        } else {
            w.loadtest1->trigger();
            QCoreApplication::processEvents();
            if (op == QLatin1String("make")) {
                memo.arm(&clock);
                clock.start();
                w.button5->click();
                ms = untilPainted(memo, w.Memo1->viewport());
            } else if (op == QLatin1String("save")) {
                w.BuildEdl();
                QCoreApplication::processEvents();
                clock.start();
                w.SaveEdl(false);
                ms = double(clock.nsecsElapsed()) / 1e6;
            } else if (op == QLatin1String("makesave")) {
                if (!w.GPO8->isChecked())
                    w.GPO8Click();
                list.arm(&clock);
                clock.start();
                w.AddGpoEvent(QStringLiteral("11:00:00:00"), QStringLiteral("11:00:00:00"), QStringLiteral("0080"));
                ms = untilPainted(list, w.List1->viewport());
                // At most the row that goes on with the cameras on air at the end of the EDL.
                if (w.captureList().count() > 1)
                    std::fprintf(stderr, "make-and-save left %d rows\n", w.captureList().count());
            } else {
                std::fprintf(stderr, "unknown operation %s\n", qPrintable(op));
                return 2;
            }
        }
    }
    std::printf("%s ms=%.1f peak_kb=%ld rows=%d edl_bytes=%lld\n", qPrintable(op), ms, peakKilobytes(),
                w.captureList().count(), static_cast<long long>(w.edlText().size()));
    std::fflush(stdout);
    w.closeWithoutCloseMessage();
    CloseSettingsFile();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_million generate CAP.gpo [--rows N] | journal CAP.gpo JOURNAL | window OP CAP.gpo [JOURNAL]\n");
        return 2;
    }
    const QByteArray command = argv[1];
    if (command == "generate") {
        QCoreApplication app(argc, argv);
        const int rows = argc >= 5 && !std::strcmp(argv[3], "--rows") ? std::atoi(argv[4]) : 1'000'000;
        return generate(QString::fromLocal8Bit(argv[2]), rows);
    }
    if (command == "journal" && argc >= 4) {
        QCoreApplication app(argc, argv);
        return journal(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    if (command == "window" && argc >= 4) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return window(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                      argc >= 5 ? QString::fromLocal8Bit(argv[4]) : QString());
    }
    std::fprintf(stderr, "unknown command %s\n", command.constData());
    return 2;
}
