// The capture window and the desktops: what it reads of the current desktop when it is made,
// and again when another desktop is applied.

#include "CaptureWindow.h"

#include "CameraTable.h"
#include "EdlMaker.h"
#include "KxSettings.h"
#include "SettingsKeys.h"

#include <QAbstractItemDelegate>
#include <QAction>
#include <QPushButton>
#include <QTableWidget>

using namespace SettingsKeys;

void Tedlf::readDesktopValues()
{
    fillCameraGrid();
    // A start-up that is ending anyway reads nothing more: every value would be reported missing.
    if (!SettingsFile || SettingsTerminateRequested())
        return;
    for (int i = 0; i < 8; ++i)
        m_functionKeys[static_cast<size_t>(i)]->setText(SettingsFile->GetString(functionKey(i + 2)));
    layoutFunctionKeys();
    GPO8->setChecked(SettingsFile->GetBool(Gpo8));
    const bool cmx = EdlMaker::layoutNamed(SettingsFile->GetString(EdlFormat)) == EdlLayout::Cmx3600;
    (cmx ? CMX36001 : CorvaneLayout1)->setChecked(true);
    OneEDLPerCamera1->setChecked(SettingsFile->GetBool(EdlPerCamera));
}

void Tedlf::KxFormSettingsChange()
{
    // The start-up restores every window before this one is shown: FormCreate has read it all,
    // and reading again would report a missing value a second time.
    if (!isVisible() || !SettingsFile)
        return;
    // A camera name being typed belongs to the desktop that was current: its editor goes without
    // putting the text back, or the next loss of focus would store it over the applied name.
    if (QWidget *editor = cameragrid->indexWidget(cameragrid->currentIndex()))
        QMetaObject::invokeMethod(cameragrid, "closeEditor", Q_ARG(QWidget *, editor),
                                  Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
    readDesktopValues();
    // The title shown is the applied desktop's, as "Make" would show it; "Save GPO" proposes it.
    setWindowTitle(SettingsFile->GetString(FileName));
}
