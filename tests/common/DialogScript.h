#pragma once

#include "KxDialog.h"
#include "KxeButton.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QStackedWidget>
#include <QString>
#include <QTest>
#include <QTimer>

#include <functional>

// Answers the program's modal dialogs (its own message dialog and the file dialogs) from a
// script, and records every dialog that came up. A dialog for which the script has no step left
// is recorded and cancelled, so a test never hangs on a question it did not expect and can
// assert that none was asked.
class DialogScript : public QObject {
public:
    // What a dialog showed when it came up.
    struct Shown {
        QString kind;    // "query", "message", "entry" or the file dialog's object name
        QString caption; // window title (message dialog)
        QString text;    // question, message or prompt
        QString value;   // text entry: the default; file dialog: the proposed file name
        QString folder;  // file dialog: the folder it opened in
        bool scripted = false;
    };
    using Step = std::function<void(QDialog *dialog)>;
    using Answer = Step;

    DialogScript()
    {
        qApp->installEventFilter(this);
    }
    // A script given whole: one answer per message dialog, in order; file dialogs are left to
    // the test.
    explicit DialogScript(QList<Step> steps) : DialogScript()
    {
        m_steps = std::move(steps);
        m_fileDialogs = false;
    }
    ~DialogScript() override
    {
        qApp->removeEventFilter(this);
    }

    void then(Step step) { m_steps.append(std::move(step)); }
    const QList<Shown> &shown() const { return m_shown; }
    // What each dialog asked, as "<caption>|<text>"; a dialog the script had no answer for is
    // marked with a leading "!".
    QStringList seen() const
    {
        QStringList lines;
        for (const Shown &s : m_shown)
            lines << (s.scripted ? QString() : QStringLiteral("!")) + s.caption + QLatin1Char('|') + s.text;
        return lines;
    }
    int pending() const { return static_cast<int>(m_steps.size()); }
    void reset()
    {
        m_steps.clear();
        m_shown.clear();
    }

    // --- Steps -------------------------------------------------------------------------------
    static Step click(const char *buttonName)
    {
        return [name = QByteArray(buttonName)](QDialog *dialog) {
            if (auto *button = dialog->findChild<TKxeButton *>(QLatin1String(name)))
                QTest::mouseClick(button, Qt::LeftButton);
            else
                dialog->done(-1);
        };
    }
    static Step ok() { return click("QRY_OK"); }
    static Step cancel() { return click("QRY_Cancel"); }
    static Step enter(const QString &text)
    {
        return [text](QDialog *dialog) {
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("STR_Edit"));
            if (edit)
                edit->setText(text);
            click("STR_OK")(dialog);
        };
    }
    static Step cancelEntry() { return click("STR_Cancel"); }
    // File dialogs: accept the given file (absolute path), or cancel.
    static Step choose(const QString &path)
    {
        return [path](QDialog *dialog) {
            auto *files = qobject_cast<QFileDialog *>(dialog);
            if (!files) {
                dialog->done(-1);
                return;
            }
            files->setDirectory(QFileInfo(path).absolutePath());
            files->selectFile(QFileInfo(path).fileName());
            static_cast<QDialog *>(files)->accept(); // QFileDialog's own accept checks the name
        };
    }
    // Accepts what the file dialog proposes.
    static Step acceptProposed()
    {
        return [](QDialog *dialog) { dialog->accept(); };
    }
    static Step reject()
    {
        return [](QDialog *dialog) { dialog->reject(); };
    }
    // Runs something while the dialog is open, then answers with next.
    static Step during(std::function<void()> meanwhile, Step next)
    {
        return [meanwhile = std::move(meanwhile), next = std::move(next)](QDialog *dialog) {
            meanwhile();
            next(dialog);
        };
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            auto *dialog = qobject_cast<QDialog *>(watched);
            if (dialog && dialog->isWindow()
                && (qobject_cast<TKxDlg *>(dialog) || (m_fileDialogs && qobject_cast<QFileDialog *>(dialog)))) {
                // Answered once its own event loop runs: ending it before exec has started its
                // loop would leave exec waiting.
                QPointer<QDialog> guard(dialog);
                QTimer::singleShot(0, this, [this, guard] {
                    if (guard && guard->isVisible())
                        answer(guard);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static Shown describe(QDialog *dialog)
    {
        Shown s;
        if (auto *files = qobject_cast<QFileDialog *>(dialog)) {
            s.kind = files->objectName();
            s.folder = QDir(files->directory()).absolutePath();
            if (auto *edit = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                s.value = edit->text();
            return s;
        }
        auto *kx = static_cast<TKxDlg *>(dialog);
        s.caption = kx->windowTitle();
        switch (kx->Pages->currentIndex()) {
        case TKxDlg::PageQuery:
            s.kind = QStringLiteral("query");
            s.text = kx->QRY_Text->text();
            break;
        case TKxDlg::PageStringEntry:
            s.kind = QStringLiteral("entry");
            s.text = kx->STR_Text->text();
            s.value = kx->STR_Edit->text();
            break;
        default:
            s.kind = QStringLiteral("message");
            s.text = kx->STD_Text->text();
            break;
        }
        return s;
    }

    void answer(QDialog *dialog)
    {
        Shown s = describe(dialog);
        s.scripted = !m_steps.isEmpty();
        m_shown.append(s);
        if (m_steps.isEmpty()) {
            dialog->reject();
            return;
        }
        Step step = m_steps.takeFirst();
        step(dialog);
    }

    QList<Step> m_steps;
    QList<Shown> m_shown;
    bool m_fileDialogs = true;
};

inline char *toString(const DialogScript::Shown &s)
{
    const QString text = QStringLiteral("{%1|%2|%3|%4|%5}").arg(s.kind, s.caption, s.text, s.value, s.folder);
    return qstrdup(text.toUtf8().constData());
}
