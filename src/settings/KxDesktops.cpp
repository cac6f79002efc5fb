// Desktop operations: named snapshots of the current desktop, and their passwords.

#include "KxDialog.h"
#include "KxSettings.h"

#include <QApplication>

using namespace SettingsKeys;

using DesktopTexts::Protected;
using DesktopTexts::quoted;

bool TKxSettingsFile::ConfirmOverwrite(QWidget *owner, const QString &name)
{
    if (!DesktopExists(name))
        return true;
    return DlgQuery(owner, QStringLiteral("Do you want to overwrite the existing ") + quoted(name) + QLatin1Char('?'),
                    QString())
        == 1;
}

bool TKxSettingsFile::CheckDesktopPassword(QWidget *owner, const QString &name, const QString &prompt,
                                           const QString &caption)
{
    if (!IsProtected(name))
        return true;
    return DlgCheckPassword(owner, prompt, caption, ReadPassword(desktopSection(name)));
}

bool TKxSettingsFile::ProtectDesktop(QWidget *owner, const QString &name, const QString &prompt)
{
    if (IsProtected(name))
        return false;
    QString scrambled;
    DlgEnterPassword(owner, prompt, true, scrambled);
    if (scrambled.isEmpty())
        return false;
    WritePassword(desktopSection(name), scrambled);
    return true;
}

bool TKxSettingsFile::UnprotectDesktop(QWidget *owner, const QString &name, const QString &prompt,
                                       const QString &caption)
{
    if (!IsProtected(name) || !CheckDesktopPassword(owner, name, prompt, caption))
        return false;
    WritePassword(desktopSection(name), QString());
    return true;
}

bool TKxSettingsFile::ApplyDesktop(const QString &name)
{
    if (!DesktopExists(name))
        return false;
    CopySection(m_settings, desktopSection(name), m_settings, Current, false);
    SetLastDesktop(name);
    RestoreAllWindows();
    return true;
}

void TKxSettingsFile::UpdateDesktop(QWidget *owner, const QString &name)
{
    if (!CheckDesktopPassword(owner, name, QStringLiteral("Enter Password to overwrite existings setup."), Protected))
        return;
    SaveAllWindows();
    CopySection(m_settings, Current, m_settings, desktopSection(name), false);
    SetLastDesktop(name);
}

void TKxSettingsFile::SaveNewDesktop(QWidget *owner)
{
    // The name is asked over the active window, wherever the call came from; the questions
    // after it go to the owner.
    QString name;
    DlgStringEntry(QApplication::activeWindow(), dtDefault, QStringLiteral("Enter a name for these settings"),
                   QStringLiteral("Save desktop settings"), QStringLiteral("New"), name);
    // Blanks around a name cannot be kept in a section name.
    name = name.trimmed();
    if (name.isEmpty())
        return;
    if (!ConfirmOverwrite(owner, name))
        return;
    if (!CheckDesktopPassword(owner, name, QStringLiteral("Enter password to overwrite"), Protected))
        return;
    UpdateDesktop(owner, name);
}

bool TKxSettingsFile::RenameDesktop(QWidget *owner, const QString &name)
{
    if (!CheckDesktopPassword(owner, name, QStringLiteral("Enter password to rename"), Protected))
        return false;
    QString newName;
    DlgStringEntry(owner, dtDefault, QStringLiteral("Enter a new name to replace ") + quoted(name) + QLatin1Char('.'),
                   QStringLiteral("Desktop Setup"), name, newName);
    newName = newName.trimmed();
    if (newName.isEmpty()) {
        DlgMessage(QStringLiteral("Invalid name"));
        return false;
    }
    if (newName.compare(name, Qt::CaseInsensitive) == 0)
        return false;
    if (!ConfirmOverwrite(owner, newName))
        return false;
    if (!CheckDesktopPassword(owner, newName, QStringLiteral("Enter password to overwrite"), Protected))
        return false;
    CopySection(m_settings, desktopSection(name), m_settings, desktopSection(newName), true);
    m_settings.eraseSection(desktopSection(name));
    SetLastDesktop(newName);
    DesktopNames();
    return true;
}

void TKxSettingsFile::DeleteDesktop(QWidget *owner, const QString &name)
{
    if (CheckDesktopPassword(owner, name, QStringLiteral("Enter Password to delete."), Protected))
        m_settings.eraseSection(desktopSection(name));
}
