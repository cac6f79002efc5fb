#pragma once

#include "KxDialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>

#include <functional>

// Answers the program's own modal dialogs in turn, as a user would, and records what each one
// asked: "<caption>|<text>" (the question, prompt or message shown). A dialog that comes after
// the script ran out is cancelled and recorded with a leading "!" so that the test sees it.
class DialogScript : public QObject {
public:
    using Answer = std::function<void(TKxDlg *)>;

    explicit DialogScript(QList<Answer> answers) : m_answers(std::move(answers))
    {
        m_timer.setInterval(2);
        connect(&m_timer, &QTimer::timeout, this, &DialogScript::poll);
        m_timer.start();
    }

    QStringList seen;
    bool finished() const { return m_next >= m_answers.size(); }

    static Answer ok()
    {
        return [](TKxDlg *d) { d->done(1); };
    }
    static Answer cancel()
    {
        return [](TKxDlg *d) { d->done(2); };
    }
    // Types text into the entry field and presses OK.
    static Answer enter(const QString &text)
    {
        return [text](TKxDlg *d) {
            d->findChild<QLineEdit *>(QStringLiteral("STR_Edit"))->setText(text);
            d->done(1);
        };
    }

    static QString textOf(TKxDlg *d)
    {
        static const char *const labels[] = {"STR_Text", "PF_Text", "STD_Text", "QRY_Text"};
        const int page = d->findChild<QStackedWidget *>(QStringLiteral("Pages"))->currentIndex();
        const QLabel *label = d->findChild<QLabel *>(QLatin1String(labels[qBound(0, page, 3)]));
        return label ? label->text() : QString();
    }

private:
    void poll()
    {
        auto *dialog = qobject_cast<TKxDlg *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        const QString entry = dialog->windowTitle() + QLatin1Char('|') + textOf(dialog);
        if (finished()) {
            seen << QLatin1Char('!') + entry;
            dialog->done(2);
            return;
        }
        seen << entry;
        m_answers.at(m_next++)(dialog);
    }

    QList<Answer> m_answers;
    qsizetype m_next = 0;
    QTimer m_timer;
};
