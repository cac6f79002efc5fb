#pragma once

// corvane-cli run as a process to its end, with what it printed.

#include <QProcess>
#include <QString>
#include <QStringList>

struct Run {
    int exitCode = -1; // -2: it crashed; -1: it did not end within a minute (and was killed)
    QString out;
    QString err;
};

inline Run runCli(const QStringList &arguments, const QString &folder = QString())
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(CORVANE_CLI), arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}
