#pragma once

#include "AppPaths.h"
#include "IniStore.h"
#include "KxSettings.h"
#include "TestFiles.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

// The program folder and settings for tests of the capture window.
namespace WindowSettings {

// The function-key captions of the factory defaults, F2 to F9.
inline const QStringList FactoryCaptions = {"Keep", "Discard", "Good", "Retake", "Check focus", "Check audio",
                                            "Best take", "Note"};

// A default settings file ("corvane.def") holding every value the capture window reads at start:
// cameras CAM1 to CAM16 of edit type V, "show" as the file-name details, no folders, GPO8 off,
// the factory captions, the Corvane EDL layout, one EDL for all cameras, 25 frames a second.
inline QByteArray defaultSettings()
{
    QByteArray def = "[APP]\r\nExe=corvane\r\n[USER\\<FACTORY DEFAULT>]\r\n";
    for (int c = 1; c <= 16; ++c)
        def += QStringLiteral("reelname%1=CAM%1\r\nedittype%1=V\r\n").arg(c).toLatin1();
    def += "filename=show\r\nedlpath=\r\ngpopath=\r\nGPO8=0\r\ncheckdisp=1\r\n"
           "edlformat=corvane\r\nedlpercamera=0\r\nedlfps=25\r\ntimelinepath=\r\n";
    for (int k = 2; k <= 9; ++k)
        def += QStringLiteral("kf%1=%2\r\n").arg(k).arg(FactoryCaptions[k - 2]).toLatin1();
    return def;
}

} // namespace WindowSettings

// A temporary program folder for a test of the capture window: the program paths point at it,
// the executable is "corvane", and the default settings file is in place. When it goes, the
// settings file is closed and the program paths are restored, then the folder is removed.
class ProgramFolder {
public:
    ProgramFolder()
    {
        if (!m_dir.isValid())
            return;
        AppPaths::setProgramFolder(m_dir.path());
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));
        m_valid = TestFiles::write(file(QStringLiteral("corvane.def")), WindowSettings::defaultSettings());
    }
    ~ProgramFolder()
    {
        CloseSettingsFile();
        AppPaths::setProgramFolder(QString());
        AppPaths::setExecutableFileName(QString());
    }
    ProgramFolder(const ProgramFolder &) = delete;
    ProgramFolder &operator=(const ProgramFolder &) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString settingsPath() const { return file(QStringLiteral("corvane.ini")); }

    // Settings of the current desktop, written before the window opens.
    void presetCurrent(const QList<QPair<QString, QString>> &values) const
    {
        IniFile ini(settingsPath());
        ini.writeString(QStringLiteral("App"), QStringLiteral("Exe"), QStringLiteral("corvane"));
        ini.writeStrings(QStringLiteral("Current"), values);
    }

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

// Makes the window the active one, as shortcuts reach the active window only; the offscreen
// platform does not give a window back its activation when a dialog closes. A window that does
// not become active fails the test here, where the cause is, not at a later key that went
// nowhere.
inline void activateWindowForKeys(QWidget &window, const char *file = __builtin_FILE(), int line = __builtin_LINE())
{
    window.activateWindow();
    if (!QTest::qWaitFor([&window] { return QApplication::activeWindow() == &window; })) {
        const QByteArray message = QByteArray("window ") + window.objectName().toUtf8() + " did not become active";
        QTest::qFail(message.constData(), file, line);
    }
}
