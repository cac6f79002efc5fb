// The built program started and closed again and again on a real desktop (an X display with the
// openbox window manager): each start puts the capture window exactly where the last one left it,
// in the settings file and on the screen, and the first start fits the screen it gets.

#include "IniStore.h"
#include "ProgramCopy.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString run(const QString &program, const QStringList &arguments, int timeoutMs = 20000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitCode() != 0)
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool succeeds(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// What xwininfo tells of a window: the client area's place and size on the screen.
QRect clientOnScreen(const QString &window)
{
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    auto value = [&info](const char *label) {
        const QRegularExpression line(QLatin1String(label) + QStringLiteral(":\\s+(-?\\d+)"));
        return line.match(info).captured(1).toInt();
    };
    return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height"));
}

QSize screenSize()
{
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-root")});
    const QRegularExpression width(QStringLiteral("Width:\\s+(\\d+)")), height(QStringLiteral("Height:\\s+(\\d+)"));
    return QSize(width.match(info).captured(1).toInt(), height.match(info).captured(1).toInt());
}

} // namespace

class TestRestartsX11 : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // The temporary and runtime folder of the programs started: their single-instance lock.
    QTemporaryDir m_runtime;
    QString m_exe;

    QString settingsPath() const { return m_dir.filePath(QStringLiteral("corvane.ini")); }

    // The capture window's placement as the settings file keeps it.
    QRect stored() const
    {
        const IniFile ini(settingsPath());
        auto value = [&ini](const char *suffix) {
            return ini.readString(QStringLiteral("Current"), QStringLiteral("<FORM>edlf") + QLatin1String(suffix), QString())
                .toInt();
        };
        return QRect(value("_FLeft"), value("_FTop"), value("_FWidth"), value("_FHeight"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_runtime.isValid());
        QVERIFY(ProgramCopy::usePrivateRuntime(m_runtime.path()));
        m_exe = ProgramCopy::make(QStringLiteral(CORVANE_EXE), m_dir.path());
        QVERIFY(!m_exe.isEmpty());
    }

    void fiveStartsKeepThePlacement()
    {
        const QRect screen(QPoint(0, 0), screenSize());
        QList<QRect> clients;
        QList<QRect> saved;
        for (int start = 1; start <= 5; ++start) {
            QProcess program;
            program.setWorkingDirectory(QDir::tempPath());
            program.start(m_exe, {});
            QVERIFY(program.waitForStarted());
            const QString window = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                                                   QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                                                   QString::number(program.processId()),
                                                                   QStringLiteral("--name"), QStringLiteral("^edlf$")})
                                       .section(QLatin1Char('\n'), 0, 0);
            QVERIFY2(!window.isEmpty(), "the capture window did not show");
            // Settled once the window manager has framed it and given it the focus.
            QTRY_COMPARE_WITH_TIMEOUT(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed(),
                                      window, 10000);
            const QRect client = clientOnScreen(window);
            clients << client;
            if (start == 1) {
                // The program's icon, for the window manager and the task bar.
                const QString icon = run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_ICON")});
                QStringList sizes;
                for (auto it = QRegularExpression(QStringLiteral("Icon \\((\\d+ x \\d+)\\)")).globalMatch(icon); it.hasNext();)
                    sizes << it.next().captured(1);
                QVERIFY2(sizes.contains(QStringLiteral("48 x 48")), qPrintable(sizes.join(QStringLiteral(", "))));
            }
            // The window manager's close: Alt+F4 on the focused capture window.
            QVERIFY(succeeds(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window,
                                                         QStringLiteral("key"), QStringLiteral("alt+F4")}));
            QVERIFY(program.waitForFinished(20000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            saved << stored();
            qInfo("start %d: client %d,%d %dx%d; corvane.ini %d,%d %dx%d", start, client.x(), client.y(), client.width(),
                  client.height(), saved.last().x(), saved.last().y(), saved.last().width(), saved.last().height());
            // All of it on the screen, the frame the settings file keeps around the client area.
            QVERIFY(screen.contains(saved.last()));
            QVERIFY(saved.last().contains(client));
        }
        for (int start = 1; start < 5; ++start) {
            QCOMPARE(clients.at(start), clients.first());
            QCOMPARE(saved.at(start), saved.first());
        }
    }
};

QTEST_GUILESS_MAIN(TestRestartsX11)
#include "tst_restarts_x11.moc"
