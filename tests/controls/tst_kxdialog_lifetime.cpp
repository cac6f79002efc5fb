// The shared dialog lives as long as the application object: it is deleted while that object is
// destroyed (not later, when widgets can no longer be deleted), and a new application gets a
// new dialog. A plain main, since the test is about the application object itself.

#include "KxDialog.h"
#include "KxeButton.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

#include <cstdio>

namespace {

// Shows a message and closes it with its OK button; true when the dialog came and went.
bool showAndClose()
{
    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<TKxDlg *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        shown = true;
        emit dialog->STD_OK->OnClick();
    });
    poll.start(5);
    DlgMessage(QStringLiteral("Goodbye."));
    return shown;
}

int fail(const char *what)
{
    std::fprintf(stderr, "FAIL: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int run = 1; run <= 2; ++run) {
        bool destroyed = false;
        {
            QApplication app(argc, argv);
            TKxDlg *dialog = KxDlg();
            QObject::connect(dialog, &QObject::destroyed, [&] {
                // Widgets can still be deleted: the application object is not gone yet.
                destroyed = QCoreApplication::instance() != nullptr;
            });
            if (!showAndClose())
                return fail("the dialog did not show");
        }
        if (!destroyed)
            return fail("the shared dialog outlived its application");
    }
    std::puts("PASS: shared dialog deleted with each application");
    return 0;
}
