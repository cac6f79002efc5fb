#include "CorvaneProgram.h"

#include "AppPaths.h"
#include "CaptureDeviceWindow.h"
#include "ErrorReport.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "SingleInstance.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>

namespace {

const QString InstanceLockName = QStringLiteral("corvaneOneCopy");

// Tells that another copy runs, and which one: a message box without owner. Where no one can see
// a box (the offscreen and minimal platforms), no box is shown, as it could never be answered; the
// text always goes to standard error as well.
void reportAlreadyRunning(const SingleInstance &instance)
{
    const QString caption = QStringLiteral("Kx Corvane");
    const qint64 owner = instance.ownerProcessId();
    const QString holder = owner > 0 ? QStringLiteral("Process %1 holds the lock file %2.").arg(owner).arg(instance.lockFilePath())
                                     : QStringLiteral("The lock file %1 is held.").arg(instance.lockFilePath());
    const QString text = QStringLiteral("Corvane is already running.\n") + holder;
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    std::fflush(stderr);
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

static void setProgramIcon()
{
    // The icon lives in a static library, whose resources are registered by hand.
    Q_INIT_RESOURCE(CorvaneIcon);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/corvane-48.png"));
    icon.addFile(QStringLiteral(":/icons/corvane-256.png"));
    QApplication::setWindowIcon(icon);
}

int runCorvane(const std::function<void(Tedlf &)> &started)
{
    // Held until the process ends; a lock left by a copy that died counts as free.
    SingleInstance instance(InstanceLockName);
    if (!instance.tryAcquire()) {
        if (instance.heldByAnother()) {
            reportAlreadyRunning(instance);
            return 1;
        }
        // Nowhere to keep the lock: the journal's own lock below still keeps a second copy out.
        std::fprintf(stderr, "Kx Corvane: the lock file %s cannot be made (%s)\n", qPrintable(instance.lockFilePath()),
                     qPrintable(instance.problem()));
    }
    // One program per capture journal, whatever runtime folder each was started with (another
    // session, su, a different XDG_RUNTIME_DIR): a second copy would rewrite the rows of the
    // first. A journal folder that cannot take the lock file cannot take the journal either;
    // the window tells that when it starts the journal.
    AppPaths::makeUserFolders(nullptr);
    const std::unique_ptr<SingleInstance> journalLock = SingleInstance::guarding(AppPaths::journalFilePath());
    if (!journalLock->tryAcquire() && journalLock->heldByAnother()) {
        reportAlreadyRunning(*journalLock);
        return 1;
    }

    setErrorPresenter([](const QString &message) { DlgMessage(message); });
    setProgramIcon();

    // The capture window opens the settings file while it loads, so that its set-up can read
    // the camera table, the function-key captions and the GPO8 option.
    Tedlf edlf;
    setDlgMainWindow(&edlf);

    if (SettingsTerminateRequested())
        return 1;

    // The MIDI device window, hidden until the "USB" menu shows it. The devices open before any
    // question of the start is asked: a show may be running already, and no switch waits for the
    // operator. The capture window stops and closes them when the program ends.
    Tmidiiof midiiof;
    CaptureDeviceWindow devices(edlf, midiiof);
    edlf.startDevicesBeforeShow();

    // A journal left behind is offered back; rows the devices bring meanwhile follow its rows.
    edlf.StartJournal(AppPaths::journalFilePath());

    // The current desktop's placements for every settings-aware window.
    runGuarded([] {
        if (SettingsFile)
            SettingsFile->RestoreAllWindows();
    });

    if (started)
        started(edlf);
    edlf.show();
    const int status = QCoreApplication::exec();
    setDlgMainWindow(nullptr);
    return status;
}
