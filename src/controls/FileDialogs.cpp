#include "FileDialogs.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QTreeView>

#include <algorithm>

namespace {

class FileDialogCare : public QObject {
public:
    explicit FileDialogCare(QFileDialog *dialog) : QObject(dialog), m_dialog(dialog)
    {
        setObjectName(QStringLiteral("FileDialogCare"));
        dialog->installEventFilter(this);
        connect(dialog, &QDialog::finished, this, &FileDialogCare::closeCompletions);
        // The list resets its columns when it fills with a folder's files.
        const QList<QTreeView *> views = dialog->findChildren<QTreeView *>();
        for (QTreeView *view : views) {
            connect(view->header(), &QHeaderView::sectionCountChanged, this, &FileDialogCare::fitHeadings,
                    Qt::QueuedConnection);
            connect(view->header(), &QHeaderView::geometriesChanged, this, &FileDialogCare::fitHeadings,
                    Qt::QueuedConnection);
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_dialog) {
            if (event->type() == QEvent::Show)
                fitHeadings();
            else if (event->type() == QEvent::Resize && m_dialog->isVisible())
                fitHeadings();
            else if (event->type() == QEvent::Hide)
                closeCompletions();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void closeCompletions()
    {
        // The popup is a window of its own (not a child of the dialog) that holds the keyboard
        // while it is open.
        const QList<QCompleter *> completers = m_dialog->findChildren<QCompleter *>();
        for (QCompleter *completer : completers) {
            if (QAbstractItemView *popup = completer->popup(); popup && popup->isVisible())
                popup->hide();
        }
    }

    void fitHeadings()
    {
        if (m_fitting)
            return;
        const QScopedValueRollback fitting(m_fitting, true);
        // Each column at least as wide as its heading; where the list is too narrow for them
        // all, it scrolls rather than cut the last heading short.
        const QList<QTreeView *> views = m_dialog->findChildren<QTreeView *>();
        for (QTreeView *view : views) {
            QHeaderView *header = view->header();
            int total = 0;
            for (int section = 0; section < header->count(); ++section) {
                if (header->isSectionHidden(section))
                    continue;
                const int needed = header->sectionSizeHint(section);
                const bool last = section == header->count() - 1;
                if (!last && header->sectionSize(section) < needed)
                    header->resizeSection(section, needed);
                total += last ? needed : header->sectionSize(section);
            }
            const bool room = total <= header->viewport()->width();
            if (header->stretchLastSection() != room)
                header->setStretchLastSection(room);
            const int last = header->count() - 1;
            if (!room && last >= 0 && header->sectionSize(last) < header->sectionSizeHint(last))
                header->resizeSection(last, header->sectionSizeHint(last));
        }
    }

    QFileDialog *m_dialog;
    bool m_fitting = false;
};

} // namespace

void prepareFileDialog(QFileDialog *dialog)
{
    static const char *const prepared = "corvanePrepared";
    if (!dialog || dialog->property(prepared).toBool())
        return;
    dialog->setProperty(prepared, true);
    new FileDialogCare(dialog);
}
