#include "CaptureFile.h"

#include "AppPaths.h"
#include "DocumentFiles.h"
#include "Latin1Text.h"
#include "TextViews.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace CaptureFile {

namespace {

// Trimming takes spaces and control characters, nothing else (not a no-break space).
inline bool isBlank(char16_t c)
{
    return c <= u' ';
}

QString trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin].unicode()))
        ++begin;
    while (end > begin && isBlank(text[end - 1].unicode()))
        --end;
    return text.mid(begin, end - begin).toString();
}

inline bool isLineBreak(char16_t c)
{
    return c == u'\r' || c == u'\n';
}

// Byte-level counterpart of NextGpoField for reading whole files without a string per field.
struct Span {
    const char *begin;
    const char *end;

    Span trimmed() const
    {
        const char *b = begin;
        const char *e = end;
        while (b < e && isBlank(static_cast<uchar>(*b)))
            ++b;
        while (e > b && isBlank(static_cast<uchar>(e[-1])))
            --e;
        return {b, e};
    }
    bool isEmpty() const { return begin == end; }
    QLatin1String view() const { return QLatin1String(begin, end - begin); }
};

Span nextField(Span &rest)
{
    const auto *comma = static_cast<const char *>(std::memchr(rest.begin, ',', static_cast<size_t>(rest.end - rest.begin)));
    if (!comma) {
        rest = rest.trimmed();
        return {rest.begin, rest.begin};
    }
    const Span field = Span{rest.begin, comma}.trimmed();
    rest = Span{comma + 1, rest.end}.trimmed();
    return field;
}

void appendLine(CaptureList &list, Span line)
{
    Span rest = line;
    const Span item = nextField(rest);
    const Span camera = nextField(rest);
    const Span reader = nextField(rest);
    Span generator = nextField(rest);
    Span comment = rest;
    if (generator.isEmpty()) {
        generator = rest;
        comment = Span{rest.end, rest.end};
    }
    list.appendRow(item.view(), camera.view(), reader.view(), generator.view(),
                   comment.isEmpty() ? QString() : QString(comment.view()));
}

void appendField(QByteArray &out, QAnyStringView text)
{
    TextViews::withCharacters(text, [&](auto view) {
        for (qsizetype i = 0; i < view.size(); ++i) {
            const char16_t c = TextViews::characterAt(view, i);
            out.append(isLineBreak(c) ? ' ' : c <= 0xFF ? static_cast<char>(c) : '?');
        }
    });
}

// Calls f(begin, end) for each line of a file's bytes, without its line end. CR LF, LF and a lone
// CR each end a line (files from old Macintosh programs end lines with CR alone); a final line end
// starts no empty line.
template <typename F>
void forEachLine(const QByteArray &bytes, F f)
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

QString FormatGpoLine(const CaptureList &list, int row)
{
    QString line;
    for (int column = 0; column < CaptureList::ColumnCount; ++column) {
        if (column)
            line += QLatin1Char(',');
        line += list.text(row, column);
    }
    for (QChar &c : line) {
        if (isLineBreak(c.unicode()))
            c = QLatin1Char(' ');
    }
    return line;
}

void NextGpoField(QString &rest, QString &field)
{
    const qsizetype comma = rest.indexOf(QLatin1Char(','));
    if (comma < 0) {
        field.clear();
        rest = trimmed(rest);
        return;
    }
    field = trimmed(QStringView(rest).left(comma));
    rest = trimmed(QStringView(rest).mid(comma + 1));
}

CaptureList::RowTexts rowOfLine(const QString &line)
{
    CaptureList::RowTexts row;
    QString rest = line;
    NextGpoField(rest, row.item);
    NextGpoField(rest, row.camera);
    NextGpoField(rest, row.reader);
    NextGpoField(rest, row.generator);
    if (row.generator.isEmpty())
        row.generator = rest;
    else
        row.comment = rest;
    return row;
}

void ParseGpoLine(CaptureList &list, const QString &line)
{
    list.appendRow(rowOfLine(line));
}

QByteArray encode(const CaptureList &list)
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(list.count()) * 48);
    for (int row = 0; row < list.count(); ++row) {
        for (int column = 0; column < CaptureList::ColumnCount; ++column) {
            if (column)
                out.append(',');
            appendField(out, list.textView(row, column));
        }
        out.append(Latin1Text::LineEnd);
    }
    return out;
}

void decode(const QByteArray &bytes, CaptureList &list, const ProgressFn &progress)
{
    CaptureList::AppendBatch batch(list);
    if (!progress) {
        forEachLine(bytes, [&list](const char *begin, const char *end) { appendLine(list, Span{begin, end}); });
        return;
    }
    qint64 lines = 0;
    forEachLine(bytes, [&](const char *begin, const char *end) {
        appendLine(list, Span{begin, end});
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
    const QByteArray bytes = DocumentFiles::readWhole(path);
    list.clear();
    decode(bytes, list, progress);
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
    return AppPaths::besideProgram(SampleFileName);
}

} // namespace CaptureFile
