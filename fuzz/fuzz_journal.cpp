// The capture journal. Three modes, chosen by the first byte:
//  - any file: reading it changes nothing, and what it reports hangs together;
//  - records with good checksums: the replay of any record lines (the checksum is added here,
//    so the fuzzer reaches the replay instead of stopping at the checksum);
//  - changes to a capture list while a journal follows it: the journal read back gives the
//    list as it was after its last complete record, wherever the file was cut, and with the
//    same undo steps as the list.

#include "FuzzSupport.h"

#include "CaptureJournal.h"
#include "CaptureList.h"

#include <QFile>
#include <QFileInfo>

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

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void checkReport(const CaptureJournal::Recovery &found, const QByteArray &bytes)
{
    switch (found.found) {
    case CaptureJournal::Found::Nothing:
        Fuzz::fail("an existing journal reads as nothing", __FILE__, __LINE__, QString());
    case CaptureJournal::Found::Damaged:
        FUZZ_CHECK(!found.problem.isEmpty() && found.rows().isEmpty(), found.problem);
        break;
    case CaptureJournal::Found::Rows:
        // A journal damaged after its first records gives the rows before the damage, says why,
        // and counts what it could not read; a whole one says nothing.
        FUZZ_CHECK(found.problem.isEmpty() == (found.unreadRecords == 0), found.problem);
        FUZZ_CHECK(found.unreadRecords <= bytes.count('\n'), QString::number(found.unreadRecords));
        FUZZ_CHECK(found.records <= bytes.count('\n'), QString::number(found.records));
        break;
    }
}

void anyFile(const QByteArray &bytes)
{
    const QString path = Fuzz::writeFile(QStringLiteral("any.journal"), bytes);
    const CaptureJournal::Recovery found = CaptureJournal::read(path);
    checkReport(found, bytes);
    FUZZ_CHECK(fileBytes(path) == bytes, QStringLiteral("read changed the journal"));
}

// qChecksum of a record's body, as the journal writes it.
QByteArray checksum(const QByteArray &body)
{
    return QByteArray::number(qChecksum(body), 16).rightJustified(4, '0').toUpper();
}

void signedRecords(Fuzz::Input &in)
{
    QByteArray bytes = "CORVANE-JOURNAL\t1\t" + checksum("CORVANE-JOURNAL\t1") + '\n';
    while (!in.atEnd()) {
        const QByteArray body = in.until('\n');
        bytes += body + '\t' + checksum(body);
        if (!in.atEnd() || body.size() % 2 == 0)
            bytes += '\n';
    }
    const QString path = Fuzz::writeFile(QStringLiteral("signed.journal"), bytes);
    checkReport(CaptureJournal::read(path), bytes);
}

// A text from the fuzzer's bytes: UTF-8, so any character a user can type, including the
// journal's own separators and escapes.
QString text(Fuzz::Input &in)
{
    return QString::fromUtf8(in.bytes(in.byte() % 24));
}

void followedList(Fuzz::Input &in)
{
    const QString path = Fuzz::workFolder() + QStringLiteral("/followed.journal");
    CaptureList list;
    list.setUndoEnabled(true);
    for (int n = in.byte() % 4; n > 0; --n)
        list.appendRow(text(in), text(in), text(in), text(in), text(in));

    // The list after each change, with the journal's size once that change was written.
    QList<QPair<qint64, QList<CaptureList::RowTexts>>> states;
    {
        CaptureJournal journal(path);
        journal.start(list);
        states.append({QFileInfo(path).size(), rowsOf(list)});
        while (!in.atEnd()) {
            const std::uint8_t op = in.byte();
            switch (op % 9) {
            case 0:
                list.appendEvent(text(in), text(in), QString::number(in.word(), 16));
                break;
            case 1:
                list.appendRow(text(in), text(in), text(in), text(in), text(in));
                break;
            case 2:
                list.setComment(int(in.byte()) - 2, text(in));
                break;
            case 3: {
                QList<int> rows;
                for (int n = in.byte() % 5; n >= 0; --n)
                    rows << int(in.byte()) - 2;
                list.deleteRows(rows);
                break;
            }
            case 4:
                list.clear();
                break;
            case 5:
                list.sortByColumn(in.byte() % 6);
                break;
            case 6:
                list.undo();
                break;
            case 7: {
                CaptureList loaded;
                for (int n = in.byte() % 4; n > 0; --n)
                    loaded.appendRow(text(in), text(in), text(in), text(in), text(in));
                list.replaceRows(loaded);
                break;
            }
            default: {
                CaptureList::AppendBatch batch(list);
                for (int n = in.byte() % 4; n > 0; --n)
                    list.appendRow(text(in), text(in), text(in), text(in), text(in));
                break;
            }
            }
            states.append({QFileInfo(path).size(), rowsOf(list)});
        }
        journal.close();
    }

    const QByteArray whole = fileBytes(path);
    const CaptureJournal::Recovery all = CaptureJournal::read(path);
    FUZZ_CHECK(all.found == CaptureJournal::Found::Rows && !all.cutRecord, all.problem);
    FUZZ_CHECK(all.rows() == rowsOf(list), describe(rowsOf(list)) + QLatin1String("\n--\n") + describe(all.rows()));
    // The same undo steps as the list it followed: undone one by one, both stay the same.
    FUZZ_CHECK(all.list->undoSteps() == list.undoSteps(), QString::number(all.list->undoSteps()));
    while (list.undo()) {
        FUZZ_CHECK(all.list->undo(), QStringLiteral("the journal read back has fewer steps"));
        FUZZ_CHECK(all.rows() == rowsOf(list), describe(rowsOf(list)) + QLatin1String("\n--\n") + describe(all.rows()));
    }

    // Cut anywhere (a crash during a write): the rows of the last change written whole.
    const qint64 cut = whole.isEmpty() ? 0 : qint64(in.word() % whole.size());
    QFile::resize(path, cut);
    const CaptureJournal::Recovery part = CaptureJournal::read(path);
    FUZZ_CHECK(part.found == CaptureJournal::Found::Rows, part.problem);
    // Records of one change (a batch) are written together; a cut inside them keeps those
    // before it, which no state shows, so only cuts between changes are compared.
    qsizetype at = -1;
    for (qsizetype i = 0; i < states.size(); ++i) {
        if (states.at(i).first == cut)
            at = i;
    }
    if (at >= 0)
        FUZZ_CHECK(part.rows() == states.at(at).second, describe(states.at(at).second) + QLatin1String("\n--\n") + describe(part.rows()));
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    switch (in.byte() % 3) {
    case 0:
        anyFile(in.rest());
        break;
    case 1:
        signedRecords(in);
        break;
    default:
        followedList(in);
        break;
    }
    return 0;
}
