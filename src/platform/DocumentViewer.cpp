#include "DocumentViewer.h"

#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

namespace {

std::function<bool(const QString &)> &check()
{
    static std::function<bool(const QString &)> replaced;
    return replaced;
}

} // namespace

namespace DocumentViewer {

bool available(const QString &path)
{
    if (check())
        return check()(path);
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The program xdg-open would start for the type, as the desktop's own associations say.
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return false; // no xdg-open either
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QMimeDatabase().mimeTypeForFile(path).name()});
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished();
        return true; // no answer is no proof: let the desktop try
    }
    return query.exitStatus() == QProcess::NormalExit && !query.readAllStandardOutput().trimmed().isEmpty();
#else
    Q_UNUSED(path);
    return true;
#endif
}

void setCheck(std::function<bool(const QString &path)> replacement)
{
    check() = std::move(replacement);
}

} // namespace DocumentViewer
