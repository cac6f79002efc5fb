// Corvane: the program entry. Takes the single-instance lock, opens the capture window (which
// opens the settings file while it loads), makes the MIDI device window hidden and joins the two,
// and runs the event loop.

#include "CaptureDeviceWindow.h"
#include "ErrorReport.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "SingleInstance.h"
#include "edlu.h"
#include "midiiou.h"

#include <QMessageBox>

#include <cstdio>

namespace {

const QString InstanceLockName = QStringLiteral("corvaneOneCopy");

// Tells that another copy runs: a message box without owner. Where no one can see a box (the
// offscreen and minimal platforms), no box is shown, as it could never be answered; the text
// always goes to standard error as well.
void reportAlreadyRunning()
{
    const QString caption = QStringLiteral("Kx Corvane");
    const QString text = QStringLiteral("Corvane is already running.");
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    std::fflush(stderr);
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

int main(int argc, char **argv)
{
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));

    // Held until the process ends; a lock left by a copy that died counts as free.
    SingleInstance instance(InstanceLockName);
    if (!instance.tryAcquire()) {
        reportAlreadyRunning();
        return 1;
    }

    setErrorPresenter([](const QString &message) { DlgMessage(message); });

    // The capture window opens the settings file while it loads, so that its set-up can read
    // the camera table, the function-key captions and the GPO8 option.
    Tedlf edlf;
    setDlgMainWindow(&edlf);

    if (SettingsTerminateRequested())
        return 1;

    // The MIDI device window, hidden until the "USB" menu shows it. The capture window starts
    // its devices when it is first shown, and stops and closes them when the program ends.
    Tmidiiof midiiof;
    CaptureDeviceWindow devices(edlf, midiiof);

    // The current desktop's placements for every settings-aware window.
    runGuarded([] {
        if (SettingsFile)
            SettingsFile->RestoreAllWindows();
    });

    edlf.show();
    const int status = app.exec();
    setDlgMainWindow(nullptr);
    return status;
}
