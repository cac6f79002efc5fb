#pragma once

#include <QString>
#include <stdexcept>

// An error that ends the current operation and carries only a message for the operator.
// The general error handler (ErrorReport.h) shows the message and the program goes on.
class CorvaneError : public std::runtime_error {
public:
    explicit CorvaneError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}

    QString message() const { return m_message; }

private:
    QString m_message;
};
