#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <algorithm>

// Small file helpers shared by the tests.
namespace TestFiles {

inline QByteArray read(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

inline bool write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

// Golden files: what the program writes, kept in the source tree and compared byte for byte.
// CORVANE_UPDATE_GOLDEN=1 (that value, no other) rewrites a golden file that differs from what was
// made; the comparison still fails then, naming the file rewritten, so that a run which rewrote
// golden files is never green and nobody commits a rewrite without reading it. The test command
// (scripts/setup test) unsets the variable.
inline bool updatingGolden()
{
    return qgetenv("CORVANE_UPDATE_GOLDEN") == "1";
}

// Empty when bytes are the golden file's, else where they part (or that the file was rewritten).
// A golden file whose name ends in ".qz" is kept compressed (qCompress).
inline QString goldenDifference(const QString &path, const QByteArray &bytes)
{
    const bool compressed = path.endsWith(QLatin1String(".qz"));
    QString difference;
    if (!QFileInfo::exists(path)) {
        difference = QStringLiteral("no golden file ") + path;
    } else {
        const QByteArray golden = compressed ? qUncompress(read(path)) : read(path);
        if (golden != bytes) {
            const QList<QByteArray> want = golden.split('\n');
            const QList<QByteArray> got = bytes.split('\n');
            difference = path + QStringLiteral(": differs");
            for (qsizetype i = 0; i < std::max(want.size(), got.size()); ++i) {
                const QByteArray w = i < want.size() ? want[i] : QByteArray("<end>");
                const QByteArray g = i < got.size() ? got[i] : QByteArray("<end>");
                if (w != g) {
                    difference = QStringLiteral("%1 line %2:\n  golden: %3\n  made:   %4")
                                     .arg(path)
                                     .arg(i + 1)
                                     .arg(QString::fromLatin1(w), QString::fromLatin1(g));
                    break;
                }
            }
        }
    }
    if (difference.isEmpty() || !updatingGolden())
        return difference;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!write(path, compressed ? qCompress(bytes, 9) : bytes))
        return QStringLiteral("cannot write ") + path;
    return QStringLiteral("REWROTE the golden file %1 (CORVANE_UPDATE_GOLDEN=1): read what changed, then run the test "
                          "again without it. Was: %2")
        .arg(path, difference);
}

} // namespace TestFiles
