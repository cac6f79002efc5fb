#include "KxSettingsForm.h"

#include "AppPaths.h"
#include "ErrorReport.h"
#include "FileDialogs.h"
#include "IniStore.h"
#include "KxDialog.h"
#include "MenuItems.h"
#include "KxSettings.h"
#include "ScreenPlacement.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>

using namespace SettingsKeys;
using DesktopTexts::Protected;
using DesktopTexts::quoted;

namespace {

const QString DesktopFilter = QStringLiteral("Desktop Setup Files (*.ini *.INI)");
const QString NothingToExport = QStringLiteral("There are no saved settings to export.");
const QString SelectToExport = QStringLiteral("Select settings to export.");
constexpr int LeftPaneWidth = 150;
constexpr int GlyphSize = 16;

QPushButton *pushButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QLabel *label(QWidget *parent, const char *name, const QString &caption)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

} // namespace

TKxSettingsForm::TKxSettingsForm(TKxSettingsFile &settings, QWidget *parent)
    : TKxForm(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("KxSettingsForm"));
    setWindowTitle(QStringLiteral("Desktop Setup"));
    // A sizeable tool window with only the close box, kept above the program's other windows.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setBorderStyle(bsSizeToolWin);
    // Closing this window never ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    buildActions();
    buildLayout();
    buildMenus();

    fitDesignSize();

    runGuarded([this] { KxFormCreate(); });
}

TKxSettingsForm::~TKxSettingsForm() = default;

auto TKxSettingsForm::handler(void (TKxSettingsForm::*slot)())
{
    return [this, slot] { runGuarded([&] { (this->*slot)(); }); };
}

// ---------------------------------------------------------------------------------------------
// Layout

void TKxSettingsForm::buildActions()
{
    UserActions = new QActionGroup(this);
    UserActions->setObjectName(QStringLiteral("UserActions"));
    UserActions->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    auto make = [this](const char *name, const QString &caption, const QKeySequence &shortcut,
                       void (TKxSettingsForm::*slot)()) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(shortcut);
        UserActions->addAction(action);
        // Added to the window so that the shortcuts work wherever the action is shown.
        addAction(action);
        connect(action, &QAction::triggered, this, handler(slot));
        return action;
    };
    IA_SaveAs = make("IA_SaveAs", QStringLiteral("Save New"), {}, &TKxSettingsForm::IA_SaveAsExecute);
    IA_Apply = make("IA_Apply", QStringLiteral("Apply"), {}, &TKxSettingsForm::IA_ApplyExecute);
    IA_Save = make("IA_Save", QStringLiteral("Update"), {}, &TKxSettingsForm::IA_SaveExecute);
    IA_Delete = make("IA_Delete", QStringLiteral("Delete"), {}, &TKxSettingsForm::IA_DeleteExecute);
    IA_Rename = make("IA_Rename", QStringLiteral("Rename"), {}, &TKxSettingsForm::IA_RenameExecute);
    IEA_SelectNone = make("IEA_SelectNone", QStringLiteral("Clear"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A),
                          &TKxSettingsForm::IEA_SelectNoneExecute);
    IEA_SelectAll = make("IEA_SelectAll", QStringLiteral("Select All"), QKeySequence(Qt::CTRL | Qt::Key_A),
                         &TKxSettingsForm::IEA_SelectAllExecute);
}

void TKxSettingsForm::buildLayout()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto *outer = new QHBoxLayout(client);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(6);

    // Left pane: the desktops, and two buttons whose actions change with the page.
    auto *left = new QWidget(client);
    left->setObjectName(QStringLiteral("LeftPane"));
    left->setFixedWidth(LeftPaneWidth);
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    UserListBox = new QListWidget(left);
    UserListBox->setObjectName(QStringLiteral("UserListBox"));
    leftLayout->addWidget(UserListBox, 1);
    auto *leftButtons = new QHBoxLayout;
    Button4 = pushButton(left, "Button4", QString());
    Button5 = pushButton(left, "Button5", QString());
    leftButtons->addWidget(Button4);
    leftButtons->addWidget(Button5);
    leftLayout->addLayout(leftButtons);
    outer->addWidget(left);
    m_leftPane = left;

    // Right pane: three pages without tabs.
    Controls = new QStackedWidget(client);
    Controls->setObjectName(QStringLiteral("Controls"));
    outer->addWidget(Controls, 1);

    Internal = new QWidget;
    Internal->setObjectName(QStringLiteral("Internal"));
    auto *internal = new QVBoxLayout(Internal);
    internal->setContentsMargins(0, 0, 0, 0);
    Label2 = label(Internal, "Label2", QStringLiteral("Saved Settings:"));
    SelUserName = label(Internal, "SelUserName", QStringLiteral("Current viewed"));
    QFont bold = SelUserName->font();
    bold.setBold(true);
    SelUserName->setFont(bold);
    UserNotes = new QPlainTextEdit(Internal);
    UserNotes->setObjectName(QStringLiteral("UserNotes"));
    UserNotes->installEventFilter(this);
    Locked = pushButton(Internal, "Locked", QStringLiteral("Protect settings with a password"));
    Locked->setIconSize(QSize(GlyphSize, GlyphSize));
    Locked->setIcon(QIcon(KxBitmap(QStringLiteral("UNLOCKED"))));
    Button1 = pushButton(Internal, "Button1", QString());
    Button2 = pushButton(Internal, "Button2", QString());
    Button3 = pushButton(Internal, "Button3", QString());
    assignAction(Button1, IA_Save);
    assignAction(Button2, IA_Delete);
    assignAction(Button3, IA_Rename);
    auto *header = new QHBoxLayout;
    header->addWidget(Label2);
    header->addWidget(SelUserName, 1);
    internal->addLayout(header);
    internal->addWidget(UserNotes, 1);
    internal->addWidget(Locked);
    auto *internalButtons = new QHBoxLayout;
    internalButtons->addWidget(Button1);
    internalButtons->addWidget(Button2);
    internalButtons->addWidget(Button3);
    internal->addLayout(internalButtons);
    Controls->addWidget(Internal);

    Import = new QWidget;
    Import->setObjectName(QStringLiteral("Import"));
    auto *import = new QVBoxLayout(Import);
    import->setContentsMargins(0, 0, 0, 0);
    Label1 = label(Import, "Label1", QStringLiteral("Import desktop settings from:"));
    IMP_File = label(Import, "IMP_File", QStringLiteral("Filename"));
    IMP_File->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    IMP_File->setWordWrap(true);
    // The sunken field shows while it is empty too.
    IMP_File->setMinimumHeight(IMP_File->fontMetrics().height() + 2 * IMP_File->frameWidth() + 4);
    IMP_File->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Button6 = pushButton(Import, "Button6", QStringLiteral("Browse"));
    Button7 = pushButton(Import, "Button7", QStringLiteral("Cancel"));
    IMP_B_OK = pushButton(Import, "IMP_B_OK", QStringLiteral("Import"));
    import->addWidget(Label1);
    import->addWidget(IMP_File);
    auto *browseRow = new QHBoxLayout;
    browseRow->addStretch(1);
    browseRow->addWidget(Button6);
    import->addLayout(browseRow);
    import->addStretch(1);
    auto *importButtons = new QHBoxLayout;
    importButtons->addStretch(1);
    importButtons->addWidget(Button7);
    importButtons->addWidget(IMP_B_OK);
    import->addLayout(importButtons);
    Controls->addWidget(Import);

    Export = new QWidget;
    Export->setObjectName(QStringLiteral("Export"));
    auto *exportPage = new QVBoxLayout(Export);
    exportPage->setContentsMargins(0, 0, 0, 0);
    EXP_Label = label(Export, "EXP_Label", SelectToExport);
    EXP_Label->setWordWrap(true);
    Button8 = pushButton(Export, "Button8", QStringLiteral("Cancel"));
    EXP_B_OK = pushButton(Export, "EXP_B_OK", QStringLiteral("Export"));
    exportPage->addWidget(EXP_Label);
    exportPage->addStretch(1);
    auto *exportButtons = new QHBoxLayout;
    exportButtons->addStretch(1);
    exportButtons->addWidget(Button8);
    exportButtons->addWidget(EXP_B_OK);
    exportPage->addLayout(exportButtons);
    Controls->addWidget(Export);

    setCentralWidget(client);

    ImportDlg = new QFileDialog(this, QString(), QString(), DesktopFilter);
    ImportDlg->setObjectName(QStringLiteral("ImportDlg"));
    ImportDlg->setAcceptMode(QFileDialog::AcceptOpen);
    ImportDlg->setFileMode(QFileDialog::ExistingFile);
    ImportDlg->setDefaultSuffix(QStringLiteral("ini"));
    ExportDlg = new QFileDialog(this, QString(), QString(), DesktopFilter);
    ExportDlg->setObjectName(QStringLiteral("ExportDlg"));
    ExportDlg->setAcceptMode(QFileDialog::AcceptSave);
    ExportDlg->setFileMode(QFileDialog::AnyFile);
    ExportDlg->setDefaultSuffix(QStringLiteral("ini"));
    prepareFileDialog(ImportDlg);
    prepareFileDialog(ExportDlg);
    // The save dialog asks before an existing file is chosen (Qt's default): exporting adds to it.

    // Keyboard selection changes count as clicks, as they do in a list box.
    connect(UserListBox, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_filling)
            runGuarded([this] { UserListBoxClick(); });
    });
    connect(UserListBox, &QListWidget::itemDoubleClicked, this, handler(&TKxSettingsForm::UserListBoxDblClick));
    connect(Locked, &QPushButton::clicked, this, handler(&TKxSettingsForm::LockedClick));
    connect(Button6, &QPushButton::clicked, this, handler(&TKxSettingsForm::IMP_BrowseClick));
    connect(Button7, &QPushButton::clicked, this, handler(&TKxSettingsForm::External_Exit));
    connect(IMP_B_OK, &QPushButton::clicked, this, handler(&TKxSettingsForm::IMP_B_OKClick));
    connect(Button8, &QPushButton::clicked, this, handler(&TKxSettingsForm::External_Exit));
    connect(EXP_B_OK, &QPushButton::clicked, this, handler(&TKxSettingsForm::EXP_B_OKClick));
}

void TKxSettingsForm::buildMenus()
{
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(MainMenu1);

    Desktop1 = MainMenu1->addMenu(QStringLiteral("Desktop"));
    Desktop1->setObjectName(QStringLiteral("Desktop1"));
    Desktop1->addAction(IA_SaveAs);
    Desktop1->addSeparator();
    Import1 = menuItem(Desktop1, "Import1", QStringLiteral("Import"));
    Import1->setData(PageImport);
    Export1 = menuItem(Desktop1, "Export1", QStringLiteral("Export"));
    Export1->setData(PageExport);
    R1 = menuItem(Desktop1, "R1", QStringLiteral("Refresh Factory Defaults"));
    Desktop1->addSeparator();
    Exit1 = menuItem(Desktop1, "Exit1", QStringLiteral("Exit"));
    for (QAction *page : {Import1, Export1}) {
        connect(page, &QAction::triggered, this,
                [this, page] { runGuarded([&] { ChangeControlPage(page->data().toInt()); }); });
    }
    connect(R1, &QAction::triggered, this, handler(&TKxSettingsForm::R1Click));
    connect(Exit1, &QAction::triggered, this, handler(&TKxSettingsForm::Exit1Click));

    Edit1 = MainMenu1->addMenu(QStringLiteral("Edit"));
    Edit1->setObjectName(QStringLiteral("Edit1"));
    // "New" saves the current desktop under a new name, as "Save New" does; "Set Password" is the
    // lock button: it protects the selected desktop, or removes its password.
    New1 = menuItem(Edit1, "New1", QStringLiteral("New"), QKeySequence(Qt::CTRL | Qt::Key_N));
    SetPassword1 = menuItem(Edit1, "SetPassword1", QStringLiteral("Set Password"), QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(New1, &QAction::triggered, IA_SaveAs, &QAction::trigger);
    connect(SetPassword1, &QAction::triggered, this, handler(&TKxSettingsForm::LockedClick));
    Edit1->addSeparator();
    Edit1->addAction(IA_Save);
    Edit1->addAction(IA_Delete);
    Edit1->addAction(IA_Rename);

    Monitors1 = MainMenu1->addMenu(QStringLiteral("Monitors"));
    Monitors1->setObjectName(QStringLiteral("Monitors1"));
    MonitorChoice = new QActionGroup(this);
    MonitorChoice->setObjectName(QStringLiteral("MonitorChoice"));
    SingleMonitor1 = menuItem(Monitors1, "SingleMonitor1", QStringLiteral("Single Monitor"));
    SingleMonitor1->setData(0);
    MultipleMonitors1 = menuItem(Monitors1, "MultipleMonitors1", QStringLiteral("Multiple Monitors"));
    MultipleMonitors1->setData(1);
    for (QAction *monitor : {SingleMonitor1, MultipleMonitors1}) {
        monitor->setCheckable(true);
        MonitorChoice->addAction(monitor);
        connect(monitor, &QAction::triggered, this,
                [this, monitor] { runGuarded([&] { M_Displays_Click(monitor->data().toInt()); }); });
    }
    SingleMonitor1->setChecked(true);
}

void TKxSettingsForm::assignAction(QPushButton *button, QAction *action)
{
    for (const QMetaObject::Connection &c : m_buttonActions.take(button))
        disconnect(c);
    auto follow = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    };
    follow();
    m_buttonActions.insert(button, {connect(action, &QAction::changed, button, follow),
                                    connect(button, &QPushButton::clicked, action, &QAction::trigger)});
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TKxSettingsForm::KxFormCreate()
{
    Controls->setCurrentIndex(PageInternal);
    InternalShow();
    if (m_settings.MultiDisplay())
        MultipleMonitors1->setChecked(true);
}

void TKxSettingsForm::showEvent(QShowEvent *event)
{
    // Sized when it first opens, before the window base runs KxFormShow to place it.
    if (!m_sized && !event->spontaneous()) {
        m_sized = true;
        fitDesignSize();
    }
    TKxForm::showEvent(event);
}

void TKxSettingsForm::fitLeftPane()
{
    // As designed, or wider where the font in use needs it for the widest caption the two buttons
    // under the list take on any page.
    int widest = 0;
    for (QAction *action : {IA_SaveAs, IA_Apply, IEA_SelectNone, IEA_SelectAll}) {
        QStyleOptionButton option;
        option.initFrom(Button4);
        option.rect = QRect(0, 0, 200, Button4->sizeHint().height());
        const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, Button4);
        widest = std::max(widest, Button4->fontMetrics().horizontalAdvance(action->text()) + 200 - contents.width() + 2);
    }
    const int spacing = m_leftPane->layout()->spacing() >= 0 ? m_leftPane->layout()->spacing() : 6;
    m_leftPane->setFixedWidth(std::max(int(LeftPaneWidth), 2 * widest + spacing));
}

void TKxSettingsForm::fitDesignSize()
{
    fitLeftPane();
    // The designed sizes are outer sizes; Qt sizes the window inside its frame, which is known
    // only once the window system has framed it (placeOuter then sizes it again).
    const QMargins frame = frameMargins();
    setMinimumSize(QSize(MinWidth, MinHeight).shrunkBy(frame).expandedTo(minimumSizeHint()));
    resize(QSize(DesignWidth, DesignHeight).shrunkBy(frame).expandedTo(minimumSize()));
}

void TKxSettingsForm::KxFormShow()
{
    const QSize size = outerGeometry().size();
    const QRect desk = ScreenPlacement::screens().virtualDesktop();
    QPoint at = QCursor::pos();
    // The desktop's right and bottom edges, wherever the virtual desktop starts: with a screen to
    // the left of the primary one it begins at a negative coordinate.
    if (at.y() + size.height() > desk.top() + desk.height())
        at.ry() -= size.height() + PointerGap;
    if (at.x() + size.width() > desk.left() + desk.width())
        at.rx() -= size.width() + PointerGap;
    // Whole on the screen it opens on, wherever the pointer was.
    OuterPlacement placement;
    placement.left = at.x();
    placement.top = at.y();
    placement.width = size.width();
    placement.height = size.height();
    placement.multipleMonitors = true;
    placement.checkLimits = true;
    placeOuter(placement);
}

void TKxSettingsForm::KxFormClose()
{
    storeNotes(false);
    m_store.reset();
}

void TKxSettingsForm::closeEvent(QCloseEvent *event)
{
    TKxForm::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

bool TKxSettingsForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == UserNotes && event->type() == QEvent::FocusOut)
        runGuarded([this] { UserNotesExit(); });
    return TKxForm::eventFilter(watched, event);
}

void TKxSettingsForm::Exit1Click()
{
    close();
}

// ---------------------------------------------------------------------------------------------
// The list, the selection and the notes

QStringList TKxSettingsForm::listedNames() const
{
    QStringList names;
    for (int i = 0; i < UserListBox->count(); ++i)
        names << UserListBox->item(i)->text();
    return names;
}

QStringList TKxSettingsForm::selectedNames() const
{
    QStringList names;
    for (int i = 0; i < UserListBox->count(); ++i) {
        if (UserListBox->item(i)->isSelected())
            names << UserListBox->item(i)->text();
    }
    return names;
}

QString TKxSettingsForm::selectedDesktop() const
{
    if (currentPage() != PageInternal)
        return QString();
    return selectedNames().value(0);
}

int TKxSettingsForm::currentPage() const
{
    return Controls->currentIndex();
}

void TKxSettingsForm::fillList()
{
    // Notes typed for the desktop shown go with it before the list changes under them.
    storeNotes(true);
    {
        m_filling = true;
        const auto filled = qScopeGuard([this] { m_filling = false; });
        UserListBox->clear();
        UserListBox->addItems(m_settings.DesktopNames());
        const QString last = m_settings.ReadValue(App, LastUser, QString());
        for (int i = 0; i < UserListBox->count() && !last.isEmpty(); ++i) {
            QListWidgetItem *item = UserListBox->item(i);
            if (item->text().compare(last, Qt::CaseInsensitive) == 0) {
                UserListBox->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
                UserListBox->scrollToItem(item);
                break;
            }
        }
    }
    showSelection();
}

void TKxSettingsForm::setDesktopActionsEnabled(bool enabled)
{
    IA_Apply->setEnabled(enabled);
    IA_Save->setEnabled(enabled);
    IA_Delete->setEnabled(enabled);
    IA_Rename->setEnabled(enabled);
    Locked->setEnabled(enabled);
    SetPassword1->setEnabled(enabled);
}

void TKxSettingsForm::showSelection()
{
    storeNotes(true);
    // Enabling or disabling the notes moves the focus; the text shown is not the new desktop's
    // yet, so nothing may be stored meanwhile.
    m_notesDesktop.clear();
    const QString name = selectedDesktop();
    if (name.isEmpty()) {
        setDesktopActionsEnabled(false);
        UserNotes->setEnabled(false);
        UserNotes->clear();
        SelUserName->clear();
        m_notesShown.clear();
        return;
    }
    setDesktopActionsEnabled(true);
    SelUserName->setText(name);
    m_notesShown = TKxSettingsFile::DecodeNotes(
        m_settings.ReadValue(TKxSettingsFile::desktopSection(name), Notes, QString()));
    UserNotes->setPlainText(m_notesShown);
    setLockView(name);
    m_notesDesktop = name;
}

void TKxSettingsForm::setLockView(const QString &name)
{
    const bool isProtected = m_settings.IsProtected(name);
    Locked->setText(isProtected ? QStringLiteral("Unlock") : QStringLiteral("Protect"));
    Locked->setIcon(QIcon(KxBitmap(isProtected ? QStringLiteral("LOCKED") : QStringLiteral("UNLOCKED"))));
    const QString shown = m_notesDesktop;
    m_notesDesktop.clear(); // a focus change while the notes are disabled stores nothing
    UserNotes->setEnabled(!isProtected);
    m_notesDesktop = shown;
}

// Writes the notes field as the notes of the desktop it shows. onlyIfChanged: the safety net
// before the field is refilled. Notes never bring back a desktop that was deleted or renamed.
void TKxSettingsForm::storeNotes(bool onlyIfChanged)
{
    if (currentPage() != PageInternal || m_notesDesktop.isEmpty())
        return;
    const QString text = UserNotes->toPlainText();
    if (onlyIfChanged && text == m_notesShown)
        return;
    const QString section = TKxSettingsFile::desktopSection(m_notesDesktop);
    if (!m_settings.settingsStore().sectionExists(section))
        return;
    m_settings.WriteValue(section, Notes, TKxSettingsFile::EncodeNotes(text));
    m_notesShown = text;
}

void TKxSettingsForm::UserNotesExit()
{
    storeNotes(false);
}

void TKxSettingsForm::updatePageButton()
{
    const bool any = !UserListBox->selectedItems().isEmpty();
    if (currentPage() == PageImport)
        IMP_B_OK->setEnabled(any);
    else if (currentPage() == PageExport)
        EXP_B_OK->setEnabled(any);
}

void TKxSettingsForm::UserListBoxClick()
{
    if (currentPage() == PageInternal)
        showSelection();
    else
        updatePageButton();
}

void TKxSettingsForm::UserListBoxDblClick()
{
    IA_ApplyExecute();
}

// ---------------------------------------------------------------------------------------------
// Pages

void TKxSettingsForm::ChangeControlPage(int page)
{
    const int from = currentPage();
    if (page == from || page < PageInternal || page > PageExport)
        return;
    if (from == PageInternal) {
        storeNotes(false);
        m_notesDesktop.clear();
    }
    Controls->setCurrentIndex(page);
    switch (page) {
    case PageInternal:
        InternalShow();
        break;
    case PageImport:
        ImportShow();
        break;
    case PageExport:
        // The export page lists the saved desktops with the desktop page's selection; coming from
        // the import page, the list holds the import file's desktops instead and is refilled.
        if (from != PageInternal) {
            m_filling = true;
            UserListBox->clear();
            UserListBox->addItems(m_settings.DesktopNames());
            m_filling = false;
        }
        ExportShow();
        break;
    default:
        break;
    }
}

void TKxSettingsForm::InternalShow()
{
    m_store.reset();
    UserListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    assignAction(Button4, IA_SaveAs);
    assignAction(Button5, IA_Apply);
    IEA_SelectNone->setEnabled(false);
    IEA_SelectAll->setEnabled(false);
    fillList();
}

// The desktop actions work on the desktop page's selection only: on the other pages the list
// holds the desktops of an import file, or a choice for export.
void TKxSettingsForm::ImportShow()
{
    UserListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    assignAction(Button4, IEA_SelectNone);
    assignAction(Button5, IEA_SelectAll);
    IEA_SelectNone->setEnabled(true);
    IEA_SelectAll->setEnabled(true);
    setDesktopActionsEnabled(false);
    m_store.reset();
    m_filling = true;
    UserListBox->clear();
    m_filling = false;
    IMP_File->clear();
    IMP_B_OK->setEnabled(false);
}

void TKxSettingsForm::ExportShow()
{
    UserListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    assignAction(Button4, IEA_SelectNone);
    assignAction(Button5, IEA_SelectAll);
    IEA_SelectNone->setEnabled(true);
    IEA_SelectAll->setEnabled(true);
    setDesktopActionsEnabled(false);
    m_store.reset();
    // Nothing to export but the factory default (or nothing at all).
    bool onlyFactory = true;
    for (const QString &name : listedNames()) {
        if (name.compare(FactoryDesktop, Qt::CaseInsensitive) != 0)
            onlyFactory = false;
    }
    EXP_Label->setText(onlyFactory ? NothingToExport : SelectToExport);
    EXP_B_OK->setEnabled(!onlyFactory && !UserListBox->selectedItems().isEmpty());
}

void TKxSettingsForm::External_Exit()
{
    m_store.reset();
    ChangeControlPage(PageInternal);
}

// ---------------------------------------------------------------------------------------------
// Desktop actions

void TKxSettingsForm::IA_SaveAsExecute()
{
    m_settings.SaveNewDesktop(this);
    if (currentPage() == PageInternal)
        fillList();
}

void TKxSettingsForm::IA_ApplyExecute()
{
    const QString name = selectedDesktop();
    if (name.isEmpty())
        return;
    storeNotes(false);
    m_settings.ApplyDesktop(name);
    close();
}

void TKxSettingsForm::IA_SaveExecute()
{
    const QString name = selectedDesktop();
    if (name.isEmpty())
        return;
    m_settings.UpdateDesktop(this, name);
    close();
}

void TKxSettingsForm::IA_DeleteExecute()
{
    if (currentPage() != PageInternal)
        return;
    const QString name = selectedDesktop();
    if (!name.isEmpty())
        m_settings.DeleteDesktop(this, name);
    fillList();
}

void TKxSettingsForm::IA_RenameExecute()
{
    const QString name = selectedDesktop();
    if (!name.isEmpty() && m_settings.RenameDesktop(this, name))
        fillList();
}

void TKxSettingsForm::IEA_SelectNoneExecute()
{
    UserListBox->clearSelection();
}

void TKxSettingsForm::IEA_SelectAllExecute()
{
    if (currentPage() != PageInternal)
        UserListBox->selectAll();
}

void TKxSettingsForm::LockedClick()
{
    const QString name = selectedDesktop();
    if (name.isEmpty())
        return;
    if (m_settings.IsProtected(name))
        m_settings.UnprotectDesktop(this, name, QStringLiteral("Enter password to unlock"), Protected);
    else
        m_settings.ProtectDesktop(this, name, QStringLiteral("Enter password to lock"));
    setLockView(name);
}

void TKxSettingsForm::R1Click()
{
    m_settings.RefreshFactoryDefaults();
    m_settings.SetLastDesktop(FactoryDesktop);
    // The refreshed desktop is shown selected on the desktop page, whichever page was showing.
    if (currentPage() == PageInternal)
        fillList();
    else
        External_Exit();
}

void TKxSettingsForm::M_Displays_Click(int tag)
{
    SingleMonitor1->setChecked(tag == 0);
    MultipleMonitors1->setChecked(tag == 1);
    m_settings.SetMultiDisplay(MultipleMonitors1->isChecked());
}

// ---------------------------------------------------------------------------------------------
// Import and export

QString TKxSettingsForm::chooseFile(QFileDialog *dialog, const QString &key)
{
    dialog->setDirectory(m_settings.ReadFolder(App, key));
    dialog->selectFile(QString());
    if (dialog->exec() != QDialog::Accepted)
        return QString();
    const QString path = dialog->selectedFiles().value(0);
    if (path.isEmpty())
        return QString();
    QString folder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    m_settings.WriteValue(App, key, folder);
    return path;
}

void TKxSettingsForm::IMP_BrowseClick()
{
    const QString path = chooseFile(ImportDlg, PathImport);
    if (path.isEmpty())
        return;
    IMP_File->setText(QDir::toNativeSeparators(path));
    m_filling = true;
    UserListBox->clear();
    m_filling = false;
    IMP_B_OK->setEnabled(false);
    m_store = std::make_unique<IniFile>(path);
    if (TKxSettingsFile::CheckApplication(*m_store) == -1) {
        m_store.reset();
        DlgMessage(QStringLiteral("Imported settings are for a different application"));
        return;
    }
    UserListBox->addItems(TKxSettingsFile::DesktopNamesOf(*m_store));
}

void TKxSettingsForm::IMP_B_OKClick()
{
    if (m_store) {
        for (const QString &name : selectedNames()) {
            if (!m_settings.ConfirmOverwrite(this, name))
                continue;
            if (!m_settings.CheckDesktopPassword(this, name,
                                                 QStringLiteral("Enter Password to Overwrite ") + quoted(name)
                                                     + QLatin1Char('.'),
                                                 QStringLiteral("Import desktop setup")))
                continue;
            const QString section = TKxSettingsFile::desktopSection(name);
            TKxSettingsFile::CopySection(*m_store, section, m_settings.settingsStore(), section, true);
        }
    }
    External_Exit();
}

void TKxSettingsForm::EXP_B_OKClick()
{
    const QString path = chooseFile(ExportDlg, PathExport);
    if (path.isEmpty())
        return;
    m_store = std::make_unique<IniFile>(path);
    if (TKxSettingsFile::CheckApplication(*m_store) == -1) {
        m_store.reset();
        DlgMessage(QStringLiteral("File contains settings for a different application."));
        return;
    }
    m_store->writeString(App, Exe, TKxSettingsFile::AsciiUpper(AppPaths::executableFileName()));
    for (const QString &name : selectedNames()) {
        const QString section = TKxSettingsFile::desktopSection(name);
        if (!m_store->keys(section).isEmpty()) {
            if (DlgQuery(this, QStringLiteral("Overwrite existing ") + quoted(name) + QLatin1Char('?'),
                         QStringLiteral("Export desktop setup"))
                != 1)
                continue;
            const QString stored = TKxSettingsFile::DecodePassword(m_store->readString(section, Pass, QString()));
            if (!stored.isEmpty()
                && !DlgCheckPassword(this, QStringLiteral("Enter Password to Overwrite ") + name,
                                     QStringLiteral("Export Desktop Settings"), stored))
                continue;
        }
        TKxSettingsFile::CopySection(m_settings.settingsStore(), section, *m_store, section, true);
    }
    External_Exit();
}

// ---------------------------------------------------------------------------------------------
// Opening the window

void TKxSettingsFile::ShowDesktopSetup()
{
    // One Desktop Setup window at a time: it is modal, but a second call could come from code.
    static bool running = false;
    if (running)
        return;
    running = true;
    auto done = qScopeGuard([] { running = false; });

    auto form = std::make_unique<TKxSettingsForm>(*this);
    QEventLoop loop;
    QObject::connect(form.get(), &TKxSettingsForm::closed, &loop, &QEventLoop::quit);
    form->setWindowModality(Qt::ApplicationModal);
    form->show();
    if (form->isVisible())
        loop.exec(QEventLoop::DialogExec);
    // The program may be ending under the window: it closes as the user would close it, which
    // keeps notes being typed.
    if (form->isVisible())
        form->close();
    // The placement is kept but never read back: the window opens at the pointer.
    SaveWindowPlacement(form.get());
}
