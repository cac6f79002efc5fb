#pragma once

#include <QtGlobal>

#include <functional>

// Told how far a long piece of work has come: done out of total (rows, bytes). Called now and then
// (every few thousand rows, every few megabytes), never per row, so that a window can show a
// progress bar and keep painting, and a terminal a progress line.
using ProgressFn = std::function<void(qint64 done, qint64 total)>;

// Calls progress every Step units of work and once at the end; cheap to call per row.
class ProgressSteps {
public:
    static constexpr qint64 Step = 1 << 14;

    ProgressSteps(const ProgressFn &progress, qint64 total) : m_progress(progress), m_total(total) {}

    void at(qint64 done)
    {
        if (m_progress && done >= m_next) {
            m_next = done + Step;
            m_progress(done, m_total);
        }
    }

private:
    const ProgressFn &m_progress;
    qint64 m_total;
    qint64 m_next = 0;
};
