// Corvane: the program entry.

#include "ErrorReport.h"
#include "KxDialog.h"
#include "KxForm.h"
#include "KxSettings.h"

int main(int argc, char **argv)
{
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    setErrorPresenter([](const QString &message) { DlgMessage(message); });

    // The main window opens the settings file while it loads.
    TKxForm window;
    window.setObjectName(QStringLiteral("edlf"));
    window.setWindowTitle(QStringLiteral("edlf"));
    window.resize(878, 775);
    setDlgMainWindow(&window);
    if (SettingsTerminateRequested())
        return 1;
    window.show();
    return app.exec();
}
