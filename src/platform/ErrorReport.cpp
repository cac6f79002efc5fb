#include "ErrorReport.h"

#include "Errors.h"

#include <QtDebug>

namespace {

void logPresenter(const QString &message)
{
    qWarning().noquote() << "Corvane error:" << message;
}

ErrorPresenter &presenterSlot()
{
    static ErrorPresenter presenter = logPresenter;
    return presenter;
}

// Guards against a presenter that itself throws, or an error raised while one is shown.
bool &presenting()
{
    static bool busy = false;
    return busy;
}

} // namespace

ErrorPresenter setErrorPresenter(ErrorPresenter presenter)
{
    ErrorPresenter previous = std::move(presenterSlot());
    presenterSlot() = presenter ? std::move(presenter) : ErrorPresenter(logPresenter);
    return previous;
}

void presentError(const QString &message)
{
    if (presenting()) {
        logPresenter(message);
        return;
    }
    presenting() = true;
    try {
        presenterSlot()(message);
    } catch (...) {
        logPresenter(message);
    }
    presenting() = false;
}

void presentCurrentException()
{
    try {
        throw;
    } catch (const CorvaneError &e) {
        presentError(e.message());
    } catch (const std::bad_alloc &) {
        presentError(QStringLiteral("Out of memory"));
    } catch (const std::exception &e) {
        presentError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        presentError(QStringLiteral("Unknown error"));
    }
}

GuardedApplication::GuardedApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool GuardedApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        presentCurrentException();
        return false;
    }
}
