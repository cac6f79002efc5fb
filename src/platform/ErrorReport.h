#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <utility>

// The application's general error handler. An exception thrown by an operation that a user
// action, a timer or a MIDI notification started ends that operation; its message is shown
// through the installed presenter (the program's own message dialog in the running program),
// and the program goes on.

using ErrorPresenter = std::function<void(const QString &message)>;

// Replaces the presenter; returns the previous one. The default writes to the log.
ErrorPresenter setErrorPresenter(ErrorPresenter presenter);

// Shows a message through the current presenter.
void presentError(const QString &message);

// Shows the message of the exception being handled (call from a catch block).
void presentCurrentException();

// Runs f; an exception it throws is shown and swallowed. Returns true when f completed.
template <typename F>
bool runGuarded(F &&f)
{
    try {
        std::forward<F>(f)();
        return true;
    } catch (...) {
        presentCurrentException();
        return false;
    }
}

// Wraps a slot so that an exception ends only that slot: connect(b, &X::clicked, guarded(...)).
template <typename F>
auto guarded(F f)
{
    return [f = std::move(f)](auto &&...args) {
        runGuarded([&] { f(std::forward<decltype(args)>(args)...); });
    };
}

// The application object: catches what escapes an event handler at the event loop.
class GuardedApplication : public QApplication {
    Q_OBJECT
public:
    GuardedApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};
