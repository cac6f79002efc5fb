// A million capture events appended through the capture window's AddGpoEvent with the list view
// attached and shown, delivered in bursts from the event loop as the device side delivers them.
// Measures whether the window keeps responding: the longest stall of the event loop and the whole
// run against the same events appended to a list without a view; and what showing one more row
// costs the view with a thousand rows and with a million (a view that laid out every row on each
// insertion would cost a thousand times more at the million).
//
//   bench_capture_window [--rows N] [--burst N]

#include "AppPaths.h"
#include "CaptureList.h"
#include "KxSettings.h"
#include "CaptureWindow.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct Options {
    int rows = 1'000'000;
    int burst = 100;
};

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--rows"))
            o.rows = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--burst"))
            o.burst = std::max(1, std::atoi(argv[++i]));
    }
    return o;
}

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The events of a show: one camera switch per event among cameras 1-4, 25 frames a second.
struct Events {
    std::vector<QString> timecodes;
    std::vector<QString> states;
    explicit Events(int n)
    {
        timecodes.reserve(static_cast<size_t>(n));
        states.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            const int frame = i * 3;
            timecodes.push_back(QString::asprintf("%.2d:%.2d:%.2d:%.2d", (10 + frame / 90000) % 24, (frame / 1500) % 60,
                                                  (frame / 25) % 60, frame % 25));
            states.push_back(QString::asprintf("%.4X", 1u << (i % 4)));
        }
    }
};

struct Run {
    double totalMs = 0;
    double longestStallMs = 0; // longest time between two turns of the event loop
    long insertions = 0;       // row insertions the view was told of
    double bytesPerRow = 0;
};

// Feeds the events in bursts, one burst per turn of the event loop, while a zero-interval
// heartbeat timer measures how long the loop is away between turns (bursts, the view's layout
// and painting all count).
Run feed(int rows, int burst, const std::function<void(int)> &add, QAbstractItemModel *model)
{
    Run run;
    const auto counter = QObject::connect(model, &QAbstractItemModel::rowsInserted, model, [&run] { ++run.insertions; });

    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer sinceBeat;
    QTimer heartbeat;
    heartbeat.setInterval(0);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        run.longestStallMs = std::max(run.longestStallMs, double(sinceBeat.nsecsElapsed()) / 1e6);
        sinceBeat.restart();
        // The clock stops once the view has been told of every row.
        if (model->rowCount() == rows)
            loop.quit();
    });

    int next = 0;
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (next >= rows) {
            feeder.stop();
            return;
        }
        const int end = std::min(rows, next + burst);
        for (; next < end; ++next)
            add(next);
    });

    const size_t before = heapInUse();
    clock.start();
    sinceBeat.start();
    heartbeat.start();
    feeder.start();
    loop.exec();
    run.totalMs = double(clock.nsecsElapsed()) / 1e6;
    heartbeat.stop();
    run.bytesPerRow = double(heapInUse() - before) / rows;
    QObject::disconnect(counter);
    return run;
}

// The view's cost of one row: a row added, the view told of it at once and the window painted,
// as a single device event after a quiet moment costs. Median of a number of samples, in ms.
double noticeCost(Tedlf &window, int samples)
{
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer t;
        t.start();
        window.AddGpoEvent(QStringLiteral("11:00:00:00"), QStringLiteral("11:00:00:00"), QStringLiteral("0001"));
        window.captureList().announcePendingRows();
        QCoreApplication::processEvents(); // the view's layout and painting
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::nth_element(ms.begin(), ms.begin() + samples / 2, ms.end());
    return ms[size_t(samples / 2)];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Options options = parse(argc, argv);

    // A program folder of its own, with the default settings the build puts beside the program.
    QTemporaryDir dir;
    if (!dir.isValid() || !QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/corvane.def"),
                                       dir.filePath(QStringLiteral("corvane.def")))) {
        std::fprintf(stderr, "cannot prepare a program folder beside %s\n", qPrintable(QCoreApplication::applicationDirPath()));
        return 1;
    }
    AppPaths::setProgramFolder(dir.path());
    AppPaths::setExecutableFileName(QStringLiteral("corvane"));

    const Events events(options.rows);

    // Baseline: the same events into a capture list that no view watches.
    Run plain;
    {
        CaptureList list;
        list.setDeferredInserts(true);
        plain = feed(options.rows, options.burst,
                     [&](int i) {
                         list.addGpoEvent(events.timecodes[size_t(i)], events.timecodes[size_t(i)], events.states[size_t(i)], false);
                     },
                     &list);
    }

    Run windowed;
    double noticeSmall = 0;
    double noticeLarge = 0;
    constexpr int SmallList = 1000;
    constexpr int Samples = 201;
    {
        Tedlf window;
        window.show();
        QCoreApplication::processEvents();
        for (int i = 0; i < SmallList; ++i)
            window.AddGpoEvent(events.timecodes[size_t(i)], events.timecodes[size_t(i)], events.states[size_t(i)]);
        noticeSmall = noticeCost(window, Samples);
        window.kdeleteallClick();
        QCoreApplication::processEvents();

        windowed = feed(options.rows, options.burst,
                        [&](int i) {
                            window.AddGpoEvent(events.timecodes[size_t(i)], events.timecodes[size_t(i)], events.states[size_t(i)]);
                        },
                        &window.captureList());
        if (window.List1->model()->rowCount() != options.rows) {
            std::fprintf(stderr, "the view shows %d rows, not %d\n", window.List1->model()->rowCount(), options.rows);
            return 1;
        }
        noticeLarge = noticeCost(window, Samples);
        window.closeWithoutCloseMessage();
    }
    CloseSettingsFile();

    std::printf("Capture window: %d events through AddGpoEvent, %d per turn of the event loop, view shown (%s)\n",
                options.rows, options.burst, qPrintable(QGuiApplication::platformName()));
    std::printf("%-44s %12s %12s %8s\n", "", "window", "no view", "ratio");
    const auto line = [](const char *what, double a, double b) {
        std::printf("%-44s %12.2f %12.2f %7.2fx\n", what, a, b, b > 0 ? a / b : 0.0);
    };
    line("whole run, ms", windowed.totalMs, plain.totalMs);
    line("longest event-loop stall, ms", windowed.longestStallMs, plain.longestStallMs);
    line("memory, bytes per row", windowed.bytesPerRow, plain.bytesPerRow);
    std::printf("%-44s %12ld %12ld\n", "row insertions the view was told of", windowed.insertions, plain.insertions);
    std::printf("\nOne row shown at once (added, view told, window painted), median of %d:\n", Samples);
    std::printf("%-44s %12.3f\n", "with 1,000 rows in the list, ms", noticeSmall);
    std::printf("%-44s %12.3f   %.2fx the small list\n",
                qPrintable(QStringLiteral("with %L1 rows in the list, ms").arg(options.rows)), noticeLarge,
                noticeSmall > 0 ? noticeLarge / noticeSmall : 0.0);
    return 0;
}
