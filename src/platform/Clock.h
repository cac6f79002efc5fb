#pragma once

#include <QDateTime>

// The program's clock. Everything that names files after the date and time reads it through
// appClock(), so tests can fix the moment.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A clock that stands still at the moment it was given (tests, scripted runs).
class FixedClock final : public Clock {
public:
    explicit FixedClock(QDateTime moment) : m_moment(std::move(moment)) {}
    QDateTime now() const override { return m_moment; }
    void set(const QDateTime &moment) { m_moment = moment; }

private:
    QDateTime m_moment;
};

// The clock in use; the system clock unless one was installed.
const Clock &appClock();

// Installs a clock (not owned; it must outlive its use), or the system clock for nullptr.
void setAppClock(const Clock *clock);
