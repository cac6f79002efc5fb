// A million capture rows: appending, making the EDL, loading and saving the capture file. Each
// figure is printed with a plain baseline measured in the same run (copying, reading or
// writing the same bytes) and their ratio, since absolute times on a shared machine are noisy.

#include "CameraTable.h"
#include "CaptureFile.h"
#include "CaptureList.h"
#include "EdlBuilder.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int Rows = 1'000'000;

QString timecode(int frame)
{
    // 25 frames a second from 10:00:00:00.
    const int f = frame % 25;
    const int s = (frame / 25) % 60;
    const int m = (frame / 1500) % 60;
    const int h = 10 + frame / 90000;
    return QString::asprintf("%.2d:%.2d:%.2d:%.2d", h % 24, m, s, f);
}

// Camera states of a show: one to three of cameras 1-4 on at a time, one switch per row.
std::vector<QString> cameraStates(int count)
{
    std::mt19937 random(8123);
    std::vector<QString> states;
    states.reserve(static_cast<size_t>(count));
    quint32 mask = 1;
    for (int i = 0; i < count; ++i) {
        quint32 next;
        do {
            next = mask ^ (1u << (random() % 4));
        } while (next == 0 || qPopulationCount(next) > 3);
        mask = next;
        states.push_back(QString::asprintf("%.4X", mask));
    }
    return states;
}

// The inputs, made once.
struct Show {
    std::vector<QString> states;
    std::vector<QString> timecodes;
    CaptureList list;
    QByteArray gpo; // the capture file of list
    QTemporaryDir dir;
    QString gpoPath;
    CameraTable cameras;

    Show()
    {
        states = cameraStates(Rows);
        timecodes.reserve(Rows);
        for (int i = 0; i < Rows; ++i)
            timecodes.push_back(timecode(i * 3));
        for (int i = 0; i < Rows; ++i)
            list.appendEvent(timecodes[static_cast<size_t>(i)], timecodes[static_cast<size_t>(i)], states[static_cast<size_t>(i)]);
        // Every 50th row has a comment, some with commas.
        for (int i = 0; i < Rows; i += 50)
            list.setComment(i, i % 100 ? QStringLiteral("Wide, slow") : QStringLiteral("Keep"));
        gpo = CaptureFile::encode(list);
        gpoPath = dir.filePath(QStringLiteral("show.gpo"));
        QFile file(gpoPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(gpo) != gpo.size())
            std::abort();
        for (int c = 1; c <= CameraTable::CameraCount; ++c) {
            cameras.setReelName(c, QStringLiteral("CAM%1").arg(c));
            cameras.setEditType(c, QStringLiteral("V"));
        }
    }
};

Show &show()
{
    static Show instance;
    return instance;
}

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// --- Baselines ----------------------------------------------------------------------------

void copyCaptureBytes(benchmark::State &state)
{
    const QByteArray &bytes = show().gpo;
    for (auto _ : state) {
        QByteArray copy(bytes.size(), Qt::Uninitialized);
        std::memcpy(copy.data(), bytes.constData(), static_cast<size_t>(bytes.size()));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void readCaptureFile(benchmark::State &state)
{
    for (auto _ : state) {
        QFile file(show().gpoPath);
        if (!file.open(QIODevice::ReadOnly))
            state.SkipWithError("cannot read");
        const QByteArray bytes = file.readAll();
        benchmark::DoNotOptimize(bytes.constData());
    }
}

void writeCaptureFile(benchmark::State &state)
{
    const QString path = show().dir.filePath(QStringLiteral("plain.gpo"));
    for (auto _ : state) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(show().gpo) != show().gpo.size())
            state.SkipWithError("cannot write");
    }
}

// --- Capture work -------------------------------------------------------------------------

void appendRows(benchmark::State &state)
{
    Show &s = show();
    double bytesPerRow = 0;
    for (auto _ : state) {
        const size_t before = heapInUse();
        auto list = std::make_unique<CaptureList>();
        for (int i = 0; i < Rows; ++i)
            list->addGpoEvent(s.timecodes[static_cast<size_t>(i)], s.timecodes[static_cast<size_t>(i)],
                              s.states[static_cast<size_t>(i)], true);
        state.PauseTiming();
        bytesPerRow = double(heapInUse() - before) / Rows;
        list.reset();
        state.ResumeTiming();
    }
    state.counters["bytes_per_row"] = bytesPerRow;
}

void buildEdl(benchmark::State &state)
{
    Show &s = show();
    EdlBuilder builder;
    QStringList lines;
    for (auto _ : state) {
        builder.BuildEdl(s.list, s.cameras, QStringLiteral("show"), QStringLiteral("23/11/08"),
                         QStringLiteral("14:30:05"), lines);
        benchmark::DoNotOptimize(lines.size());
    }
    state.counters["edl_lines"] = double(lines.size());
}

void loadCaptureFile(benchmark::State &state)
{
    double bytesPerRow = 0;
    for (auto _ : state) {
        const size_t before = heapInUse();
        auto list = std::make_unique<CaptureList>();
        CaptureFile::LoadGpoFile(*list, show().gpoPath);
        state.PauseTiming();
        if (list->count() != Rows)
            state.SkipWithError("wrong row count");
        bytesPerRow = double(heapInUse() - before) / Rows;
        list.reset();
        state.ResumeTiming();
    }
    state.counters["bytes_per_row"] = bytesPerRow;
}

void saveCaptureFile(benchmark::State &state)
{
    const QString path = show().dir.filePath(QStringLiteral("saved.gpo"));
    for (auto _ : state)
        CaptureFile::SaveGpoFile(show().list, path);
}

// Each benchmark runs a few whole passes over the million rows.
void configure(benchmark::internal::Benchmark *b)
{
    b->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(copyCaptureBytes)->Apply(configure);
BENCHMARK(readCaptureFile)->Apply(configure);
BENCHMARK(writeCaptureFile)->Apply(configure);
BENCHMARK(appendRows)->Apply(configure);
BENCHMARK(buildEdl)->Apply(configure);
BENCHMARK(loadCaptureFile)->Apply(configure);
BENCHMARK(saveCaptureFile)->Apply(configure);

// Keeps each benchmark's seconds per pass and counters for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

    struct Figure {
        double seconds = 0;
        std::map<std::string, double> counters;
    };
    std::map<std::string, Figure> figures;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            Figure &f = figures[run.benchmark_name()];
            f.seconds = run.real_accumulated_time / double(run.iterations);
            for (const auto &[name, counter] : run.counters)
                f.counters[name] = counter.value;
        }
    }
};

std::string baseName(const std::string &name)
{
    return name.substr(0, name.find('/'));
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    show(); // make the inputs before any timing
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::map<std::string, SummaryReporter::Figure> byName;
    for (const auto &[name, figure] : reporter.figures)
        byName[baseName(name)] = figure;

    struct Line {
        const char *what;
        const char *name;
        const char *baseline;
    };
    const Line lines[] = {
        {"append 1,000,000 rows (AddGpoEvent, no view)", "appendRows", "copyCaptureBytes"},
        {"BuildEdl over 1,000,000 rows, 1-3 cameras on", "buildEdl", "copyCaptureBytes"},
        {"load a 1,000,000-row .gpo", "loadCaptureFile", "readCaptureFile"},
        {"save a 1,000,000-row .gpo", "saveCaptureFile", "writeCaptureFile"},
    };
    std::printf("\nSummary (%d rows, %.1f MB of capture text; target under 1000 ms each)\n", Rows,
                double(show().gpo.size()) / 1e6);
    std::printf("%-48s %10s %14s %10s %8s\n", "", "ms", "baseline ms", "ratio", "target");
    for (const Line &line : lines) {
        const auto it = byName.find(line.name);
        const auto base = byName.find(line.baseline);
        if (it == byName.end() || base == byName.end())
            continue;
        const double ms = it->second.seconds * 1000;
        const double baseMs = base->second.seconds * 1000;
        std::printf("%-48s %10.1f %14.1f %9.1fx %8s   (baseline: %s)\n", line.what, ms, baseMs,
                    baseMs > 0 ? ms / baseMs : 0.0, ms < 1000 ? "met" : "MISSED", line.baseline);
    }
    for (const char *name : {"appendRows", "loadCaptureFile"}) {
        const auto it = byName.find(name);
        if (it == byName.end())
            continue;
        const auto counter = it->second.counters.find("bytes_per_row");
        if (counter != it->second.counters.end())
            std::printf("memory after %-35s %10.1f bytes per row (target at most 250; stored row %zu bytes)\n", name,
                        counter->second, CaptureList::storedRowSize());
    }
    benchmark::Shutdown();
    return 0;
}
