#pragma once

#include "KxForm.h"

#include <QHash>
#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <memory>

class IniFile;
class QAction;
class QActionGroup;
class QFileDialog;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class TKxSettingsFile;

// The Desktop Setup window: lists the saved desktops of the settings file with their notes,
// applies, updates, saves, renames, deletes and password-protects them, imports desktops from and
// exports them to other desktop files, restores the factory-default desktop and chooses the
// monitor limits of window placement. Opened modally by TKxSettingsFile::ShowDesktopSetup.
//
// Handlers that write to a file throw CorvaneError when the file system refuses; every control
// runs its handler guarded, so the message is shown and the window goes on.
class TKxSettingsForm : public TKxForm {
    Q_OBJECT
public:
    // Outer size as designed at 96 dpi, and the smallest outer size.
    static constexpr int DesignWidth = 421;
    static constexpr int DesignHeight = 249;
    static constexpr int MinWidth = 420;
    static constexpr int MinHeight = 194;
    // How far the window stays from the pointer when it opens turned away from the desktop's edge.
    static constexpr int PointerGap = 10;

    enum PageIndex { PageInternal = 0, PageImport = 1, PageExport = 2 };

    explicit TKxSettingsForm(TKxSettingsFile &settings, QWidget *parent = nullptr);
    ~TKxSettingsForm() override;

    // The list's entries, in order, and the entries selected, in list order.
    QStringList listedNames() const;
    QStringList selectedNames() const;
    // The desktop page's selected entry; empty without one, and on the other pages.
    QString selectedDesktop() const;
    int currentPage() const;

    // --- Controls, named as in the window's design -----------------------------------------
    QListWidget *UserListBox;
    QPushButton *Button4;
    QPushButton *Button5;
    QStackedWidget *Controls;
    QWidget *Internal;
    QLabel *Label2;
    QLabel *SelUserName;
    QPlainTextEdit *UserNotes;
    QPushButton *Locked;
    QPushButton *Button1;
    QPushButton *Button2;
    QPushButton *Button3;
    QWidget *Import;
    QLabel *Label1;
    QLabel *IMP_File;
    QPushButton *Button6;
    QPushButton *Button7;
    QPushButton *IMP_B_OK;
    QWidget *Export;
    QLabel *EXP_Label;
    QPushButton *Button8;
    QPushButton *EXP_B_OK;
    QFileDialog *ImportDlg;
    QFileDialog *ExportDlg;

    QActionGroup *UserActions;
    QAction *IA_SaveAs;
    QAction *IA_Apply;
    QAction *IA_Save;
    QAction *IA_Delete;
    QAction *IA_Rename;
    QAction *IEA_SelectNone;
    QAction *IEA_SelectAll;

    QMenuBar *MainMenu1;
    QMenu *Desktop1;
    QAction *Import1, *Export1, *R1, *Exit1;
    QMenu *Edit1;
    QAction *New1, *SetPassword1;
    QMenu *Monitors1;
    QActionGroup *MonitorChoice;
    QAction *SingleMonitor1, *MultipleMonitors1;

signals:
    // The window has closed (by any path); ShowDesktopSetup waits for this.
    void closed();

public slots:
    void ChangeControlPage(int page);
    void InternalShow();
    void ImportShow();
    void ExportShow();
    void External_Exit();

    void UserListBoxClick();
    void UserListBoxDblClick();
    void UserNotesExit();

    void IA_SaveAsExecute();
    void IA_ApplyExecute();
    void IA_SaveExecute();
    void IA_DeleteExecute();
    void IA_RenameExecute();
    void IEA_SelectNoneExecute();
    void IEA_SelectAllExecute();
    void LockedClick();
    void R1Click();
    void M_Displays_Click(int tag);
    void Exit1Click();

    void IMP_BrowseClick();
    void IMP_B_OKClick();
    void EXP_B_OKClick();

protected:
    void KxFormCreate();
    // Places the window at the pointer, turned away from the desktop's right and bottom edges.
    void KxFormShow() override;
    void KxFormClose() override;

    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void buildActions();
    void buildMenus();
    void fitDesignSize();
    void fitLeftPane();
    // The button shows the action's caption and state and triggers it, as long as it holds it.
    void assignAction(QPushButton *button, QAction *action);
    auto handler(void (TKxSettingsForm::*slot)());

    void fillList();
    void showSelection();
    void setLockView(const QString &name);
    void storeNotes(bool onlyIfChanged);
    void setDesktopActionsEnabled(bool enabled);
    void updatePageButton();
    // Runs a file dialog from the folder kept under key in "App"; keeps the chosen file's folder
    // there. Empty when cancelled.
    QString chooseFile(QFileDialog *dialog, const QString &key);

    TKxSettingsFile &m_settings;
    // The file chosen on the import or export page, open until External_Exit.
    std::unique_ptr<IniFile> m_store;
    QHash<QPushButton *, QList<QMetaObject::Connection>> m_buttonActions;
    // The desktop whose notes UserNotes shows, and the text as it was loaded.
    QString m_notesDesktop;
    QString m_notesShown;
    bool m_filling = false;
    bool m_sized = false;
    QWidget *m_leftPane = nullptr;
};
