#include "KxForm.h"

#include "ErrorReport.h"
#include "KxSettings.h"

#include <QCloseEvent>

TKxForm::TKxForm(QWidget *parent) : QMainWindow(parent)
{
    if (!SettingsFile) {
        m_ownsSettings = true;
        CreateSettingsFile();
    }
}

void TKxForm::closeWithoutCloseMessage()
{
    m_programClose = true;
    close();
    m_programClose = false;
}

void TKxForm::closeEvent(QCloseEvent *event)
{
    runGuarded([this] { KxFormClose(); });
    if (m_ownsSettings && !m_programClose) {
        CloseSettingsFile();
        m_ownsSettings = false;
    }
    QMainWindow::closeEvent(event);
}
