#include "CaptureFile.h"

#include "AppPaths.h"
#include "DocumentFiles.h"
#include "Errors.h"
#include "Latin1Text.h"
#include "TextViews.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace CaptureFile {

namespace {

// Trimming takes spaces and control characters, nothing else (not a no-break space).
inline bool isBlank(uchar c)
{
    return c <= ' ';
}

QLatin1String trimmed(QLatin1String text)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    while (begin < end && isBlank(static_cast<uchar>(*begin)))
        ++begin;
    while (end > begin && isBlank(static_cast<uchar>(end[-1])))
        --end;
    return QLatin1String(begin, end - begin);
}

inline bool isLineBreak(char16_t c)
{
    return c == u'\r' || c == u'\n';
}

// NextGpoField and ParseGpoLine, inlined into the loop that reads a whole file.
inline QLatin1String nextField(QLatin1String &rest)
{
    const char *const end = rest.data() + rest.size();
    // (memchr is not given the null data of an empty view.)
    const auto *comma = rest.isEmpty()
        ? nullptr
        : static_cast<const char *>(std::memchr(rest.data(), ',', static_cast<size_t>(rest.size())));
    if (!comma) {
        rest = trimmed(rest);
        return QLatin1String(rest.data(), rest.data());
    }
    const QLatin1String field = trimmed(QLatin1String(rest.data(), comma));
    rest = trimmed(QLatin1String(comma + 1, end));
    return field;
}

inline void parseLine(CaptureList &list, QLatin1String line)
{
    QLatin1String rest = line;
    const QLatin1String item = nextField(rest);
    const QLatin1String camera = nextField(rest);
    const QLatin1String reader = nextField(rest);
    QLatin1String generator = nextField(rest);
    QLatin1String comment = rest;
    if (generator.isEmpty()) {
        generator = rest;
        comment = QLatin1String();
    }
    list.appendRow(item, camera, reader, generator, comment.isEmpty() ? QString() : QString(comment));
}

// Calls f(begin, end) for each line of a file's bytes, without its line end. CR LF, LF and a lone
// CR each end a line (files from old Macintosh programs end lines with CR alone); a final line end
// starts no empty line.
template <typename F>
void forEachLine(QByteArrayView bytes, F f)
{
    const char *p = bytes.constData();
    const char *const end = p + bytes.size();
    const char *lf = nullptr; // the next LF at or after p (or end), looked up once for many lone CRs
    while (p < end) {
        if (!lf || lf < p) {
            lf = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!lf)
                lf = end;
        }
        const auto *cr = static_cast<const char *>(std::memchr(p, '\r', static_cast<size_t>(lf - p)));
        if (!cr) {
            f(p, lf);
            p = lf + 1;
            continue;
        }
        f(p, cr);
        p = cr + 1 == lf && lf != end ? lf + 1 : cr + 1; // CR LF ends one line
    }
}

} // namespace

void FormatGpoLine(const CaptureList &list, int row, QByteArray &out)
{
    for (int column = 0; column < CaptureList::ColumnCount; ++column) {
        if (column)
            out.append(',');
        TextViews::withCharacters(list.textView(row, column), [&](auto view) {
            for (qsizetype i = 0; i < view.size(); ++i) {
                const char16_t c = TextViews::characterAt(view, i);
                out.append(isLineBreak(c) ? ' ' : c <= 0xFF ? static_cast<char>(c) : '?');
            }
        });
    }
}

void NextGpoField(QLatin1String &rest, QLatin1String &field)
{
    field = nextField(rest);
}

void ParseGpoLine(CaptureList &list, QLatin1String line)
{
    parseLine(list, line);
}

QByteArray encode(const CaptureList &list)
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(list.count()) * 48);
    for (int row = 0; row < list.count(); ++row) {
        FormatGpoLine(list, row, out);
        out.append(Latin1Text::LineEnd);
    }
    return out;
}

void decode(const QByteArray &bytes, CaptureList &list, const ProgressFn &progress)
{
    CaptureList::AppendBatch batch(list);
    if (!progress) {
        forEachLine(bytes, [&list](const char *begin, const char *end) { parseLine(list, QLatin1String(begin, end)); });
        return;
    }
    qint64 lines = 0;
    forEachLine(bytes, [&](const char *begin, const char *end) {
        parseLine(list, QLatin1String(begin, end));
        if ((++lines & 0x3FFF) == 0)
            progress(end - bytes.constData(), bytes.size());
    });
    progress(bytes.size(), bytes.size());
}

QStringList splitLines(const QByteArray &bytes)
{
    QStringList lines;
    forEachLine(bytes, [&lines](const char *begin, const char *end) {
        lines << QString::fromLatin1(begin, end - begin);
    });
    return lines;
}

int countLines(const QByteArray &bytes)
{
    int lines = 0;
    forEachLine(bytes, [&lines](const char *, const char *) { ++lines; });
    return lines;
}

qsizetype wholeLinesSize(const QByteArray &bytes)
{
    const qsizetype lf = bytes.lastIndexOf('\n');
    const qsizetype cr = bytes.lastIndexOf('\r');
    return std::max(lf, cr) + 1;
}

bool LoadGpoFile(CaptureList &list, const QString &path, const ProgressFn &progress)
{
    if (!QFileInfo::exists(path))
        return false;
    QFile file(path);
    const auto failed = [&file, &path] {
        return CorvaneError(QStringLiteral("Cannot read file %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    };
    if (!file.open(QIODevice::ReadOnly))
        throw failed();
    // Read in blocks, each parsed up to its last LF: a file of a million rows never waits whole
    // in memory beside its rows. What follows the last LF (a line read in part, or lines ended by
    // a lone CR, with the CR that may pair with the next block's LF) waits for the next block.
    QByteArray pending;
    const auto readBlock = [&] {
        const qsizetype kept = pending.size();
        pending.resize(kept + LoadBlockBytes);
        const qint64 got = file.read(pending.data() + kept, LoadBlockBytes);
        if (got < 0)
            throw failed();
        pending.resize(kept + got);
        return got > 0;
    };
    // A file that cannot be read at all leaves the list as it was.
    bool more = readBlock();
    list.clear();
    const qint64 total = std::max<qint64>(file.size(), 1);
    qint64 consumed = 0;
    qint64 lines = 0;
    const auto parse = [&](QByteArrayView part) {
        forEachLine(part, [&](const char *begin, const char *end) {
            parseLine(list, QLatin1String(begin, end));
            if (progress && (++lines & 0x3FFF) == 0)
                progress(consumed + (end - part.constData()), total);
        });
        consumed += part.size();
    };
    CaptureList::AppendBatch batch(list);
    while (more) {
        const qsizetype whole = pending.lastIndexOf('\n') + 1;
        if (whole > 0) {
            parse(QByteArrayView(pending).first(whole));
            pending.remove(0, whole);
        }
        more = readBlock();
    }
    parse(pending);
    if (progress)
        progress(total, total);
    return true;
}

void SaveGpoFile(const CaptureList &list, const QString &path)
{
    DocumentFiles::writeWhole(path, encode(list));
}

QString proposedName(const QString &caption, const QDate &date)
{
    return caption + QLatin1Char('_') + QString::number(date.year() - 2000, 16).toUpper()
           + QString::number(date.month(), 16).toUpper() + QStringLiteral("%1").arg(date.day(), 2, 10, QLatin1Char('0'));
}

QString sampleFilePath()
{
    return AppPaths::shippedFile(SampleFileName);
}

} // namespace CaptureFile
