// Capture files. Any file: reading it whole (as "Load GPO" does) gives the rows that parsing it
// line by line gives (the file's line ends are found right), and the loader replaces the list by
// them. Any rows of the shape the
// program keeps (Latin-1 texts of one line without surrounding blanks, no commas in the first
// four): saving and loading gives them back unchanged.
//
// Input: a first byte choosing the mode, then the file (or the rows' texts, separated by 0 bytes).

#include "FuzzSupport.h"

#include "CaptureFile.h"
#include "CaptureList.h"

namespace {

QList<CaptureList::RowTexts> rowsOf(const CaptureList &list)
{
    QList<CaptureList::RowTexts> rows;
    for (int r = 0; r < list.count(); ++r)
        rows << list.rowTexts(r);
    return rows;
}

QString describe(const QList<CaptureList::RowTexts> &rows)
{
    QStringList lines;
    for (const auto &r : rows)
        lines << QStringList{r.item, r.camera, r.reader, r.generator, r.comment}.join(QLatin1Char('|'));
    return lines.join(QLatin1Char('\n'));
}

bool isBlank(QChar c)
{
    return c.unicode() <= u' ';
}

bool isTrimmed(const QString &text)
{
    return text.isEmpty() || (!isBlank(text.front()) && !isBlank(text.back()));
}

void anyFile(const QByteArray &bytes)
{
    CaptureList whole;
    CaptureFile::decode(bytes, whole);

    CaptureList byLine;
    for (const QString &text : CaptureFile::splitLines(bytes)) {
        const QByteArray line = text.toLatin1();
        CaptureFile::ParseGpoLine(byLine, QLatin1String(line));
        // Fields never hold a comma, and fields and rest come trimmed.
        QLatin1String rest(line);
        QLatin1String field;
        for (int i = 0; i < 4; ++i) {
            CaptureFile::NextGpoField(rest, field);
            FUZZ_CHECK(!QString(field).contains(QLatin1Char(',')) && isTrimmed(QString(field)) && isTrimmed(QString(rest)),
                       text);
        }
    }
    FUZZ_CHECK(rowsOf(whole) == rowsOf(byLine), describe(rowsOf(whole)) + QLatin1String("\n--\n") + describe(rowsOf(byLine)));

    CaptureList loaded;
    loaded.appendRow(QStringLiteral("x"), QStringLiteral("1"), QString(), QString(), QStringLiteral("before"));
    const QString path = Fuzz::writeFile(QStringLiteral("any.gpo"), bytes);
    FUZZ_CHECK(CaptureFile::LoadGpoFile(loaded, path), path);
    FUZZ_CHECK(rowsOf(loaded) == rowsOf(whole), describe(rowsOf(loaded)));
}

// A text as the program keeps it: Latin-1, one line, without blanks at either end; commas
// taken out where the format needs it.
QString keptText(const QByteArray &bytes, bool comma)
{
    QString text = QString::fromLatin1(bytes);
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (!comma)
        text.remove(QLatin1Char(','));
    while (!text.isEmpty() && isBlank(text.front()))
        text.remove(0, 1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

void keptRows(Fuzz::Input &in)
{
    CaptureList list;
    while (!in.atEnd()) {
        CaptureList::RowTexts row;
        row.item = keptText(in.until('\0'), false);
        row.camera = keptText(in.until('\0'), false);
        row.reader = keptText(in.until('\0'), false);
        row.generator = keptText(in.until('\0'), false);
        row.comment = keptText(in.until('\0'), true);
        // A row without a generator timecode keeps no comment: the file could not tell them
        // apart.
        if (row.generator.isEmpty())
            row.comment.clear();
        list.appendRow(row);
    }
    CaptureList decoded;
    CaptureFile::decode(CaptureFile::encode(list), decoded);
    FUZZ_CHECK(rowsOf(decoded) == rowsOf(list), describe(rowsOf(list)) + QLatin1String("\n--\n") + describe(rowsOf(decoded)));

    const QString path = Fuzz::workFolder() + QStringLiteral("/kept.gpo");
    CaptureFile::SaveGpoFile(list, path);
    CaptureList loaded;
    FUZZ_CHECK(CaptureFile::LoadGpoFile(loaded, path), path);
    FUZZ_CHECK(rowsOf(loaded) == rowsOf(list), describe(rowsOf(list)) + QLatin1String("\n--\n") + describe(rowsOf(loaded)));
    // The line of each row, read alone, gives the row back.
    for (int r = 0; r < list.count(); ++r) {
        QByteArray line;
        CaptureFile::FormatGpoLine(list, r, line);
        CaptureList one;
        CaptureFile::ParseGpoLine(one, QLatin1String(line));
        FUZZ_CHECK(one.count() == 1 && one.rowTexts(0) == list.rowTexts(r), QString::fromLatin1(line));
    }
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    if (in.byte() == 'K')
        keptRows(in);
    else
        anyFile(in.rest());
    return 0;
}
