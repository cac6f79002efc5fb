#pragma once

#include "CaptureDevices.h"
#include "CaptureList.h"
#include "EdlBuilder.h"
#include "EdlMaker.h"
#include "KxForm.h"
#include "LinesView.h"

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class AnchorLayout;
class CameraTable;
class CaptureJournal;
class CaptureListFollower;
class QAction;
class QDialog;
class QFileDialog;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;

class QPushButton;
class QTableView;
class QTableWidget;
class QTimer;

// The capture window, the program's main window: the running timecode, the capture list, the
// camera table, the EDL memo, the command buttons and the function-key panel. Every subsystem
// meets here: device events arrive through AddGpoEvent, the MIDI devices are reached through
// TCaptureDevices, values are kept in the settings file.
//
// Handlers throw CorvaneError for a failed operation (a camera state that is not hexadecimal, a
// file that cannot be written); the buttons and menu items run them guarded, so the message is
// shown by the general error handler and the program goes on.
class Tedlf : public TKxForm {
    Q_OBJECT
public:
    // Designed size of the window's client area (below the menu bar), at 96 dpi.
    static constexpr int DesignClientWidth = 870;
    static constexpr int DesignClientHeight = 721;
    static constexpr int CommentLength = 255;
    // Longest wait before a captured row shows in the list, in ms.
    static constexpr int RowAnnounceInterval = 40;
    // The maker's support line, quoted by "Online Support" before the support program starts.
    static inline const QString SupportTelephone = QStringLiteral("+44 20 7946 0958");

    // The settings file is opened while the window loads (by the window base); FormCreate runs
    // at the end of construction.
    explicit Tedlf(QWidget *parent = nullptr);
    ~Tedlf() override;

    // The devices the window starts and stops; not owned. Without any, nothing happens.
    void setDevices(TCaptureDevices *devices);
    TCaptureDevices *devices() const { return m_devices; }
    // Starts the devices before the window is first shown (the program does, so that no switch
    // waits for the questions of its start); that first showing then leaves them as they are.
    void startDevicesBeforeShow();

    CaptureList &captureList() { return *m_list; }
    // The camera records of EDL generation, kept for the whole run.
    EdlBuilder &edlBuilder() { return m_builder; }
    // The EDL shown in Memo1 as the bytes of its file; Save EDL writes exactly these when one EDL
    // was made.
    const QByteArray &edlText() const { return m_edlText; }
    // Its lines.
    QStringList edlLines() const;
    // The EDLs made: one, or one per camera used; Save EDL writes each to a file of its own.
    const QList<EdlDocument> &edlDocuments() const { return m_edlDocuments; }
    // The layout and split the "EDL Format" menu has chosen.
    EdlOptions edlOptions() const;
    // The camera table as the grid shows it now.
    CameraTable cameraTable() const;
    // Rows selected in List1, ascending.
    QList<int> selectedRows() const;

    // Journals every change of the capture list to path from now on, so that a crash loses no
    // row. A journal found there was left by a run that did not end cleanly: its rows are
    // offered back first ("Recover N capture rows from the previous run?"); declined or
    // unreadable, it is moved aside under a dated name, never deleted. Call once; rows the devices
    // bring meanwhile follow the recovered rows. Problems are told to the operator; the window
    // works on without a journal.
    void StartJournal(const QString &path);
    // The journal, or none.
    CaptureJournal *journal() const { return m_journal; }
    // Keeps the newest row in view and marks the row the function keys comment.
    CaptureListFollower *listFollower() const { return m_follower; }
    // The list has rows that are in no file written since its last change (Save EDL or
    // Make&Save of an EDL made from the list as it stands, or Save GPO). A window closed with
    // such rows keeps its journal, so that the next start offers them back.
    bool hasUnsavedRows() const;
    // A GPO8 trigger came while the window could not carry it out (a dialog open) and waits.
    bool gpo8TriggerWaiting() const { return m_gpo8Waiting; }

    // The timecode label's text while a device is gone.
    static inline const QString NoDeviceText = QStringLiteral("NO DEVICE");

    // --- Controls, named as in the window's design ------------------------------------------
    QLabel *tcpoz;
    QLabel *lostevents; // beside tcpoz: the events lost, when any
    QTableView *List1;
    QTableWidget *cameragrid;
    QFrame *Panel1;
    QPushButton *Kfilname;
    QPushButton *kdelete;
    QPushButton *Kcomment;
    QPushButton *kdeleteall;
    QPushButton *button5;
    QPushButton *button6;
    QPushButton *makesave;
    QPushButton *kexit;
    LinesView *Memo1;
    QFrame *Panel2;
    QPushButton *F2, *F3, *F4, *F5, *F6, *F7, *F8, *F9;
    QTimer *Timer1;

    QMenuBar *MainMenu1;
    QMenu *GPO1;
    QAction *SaveGPO1, *LoadGPO1, *MakeEdl1, *SaveEDL1, *ExportTimeline1, *cleargpo, *desktop1, *Exit1;
    QMenu *Edit1;
    QAction *Undo1;
    QMenu *EDLFormat1;
    QAction *CorvaneLayout1, *CMX36001, *OneEDLPerCamera1;
    QMenu *Interface1;
    QAction *filename1, *USB1, *GPO8;
    QMenu *Help1;
    QMenu *CorvaneManual1;
    QAction *English1, *French1, *Manual1, *OrvexNameDriver1, *OnlineSupport1, *loadtest1;
    QAction *About1; // Help > About Corvane: the version
    // Never shown: its items exist for their shortcuts F2 to F9.
    QMenu *FunctionMacro1;
    QAction *F21, *F31, *F41, *F51, *F61, *F71, *F81, *F91;

    // The file dialogs, made on first use.
    QFileDialog *SaveDlg();
    QFileDialog *OpenDlg();

public slots:
    // --- Called by the device side -----------------------------------------------------------
    // A capture event: reader timecode, generator timecode, camera state (hexadecimal). Appends a
    // row, or with the GPO8 option on and camera 8 set, makes and saves the EDL of the rows so far
    // instead. Throws CorvaneError for a camera state that is not hexadecimal (no row added) and
    // for a failed save.
    void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera);
    // Shows the running timecode.
    void setTimecode(const QString &text);
    // Shows the state of the MIDI devices where it is seen from across the room: while a device
    // that was open has gone (missing), the timecode panel turns red and reads "NO DEVICE"; events
    // lost are counted beside it, and so are the MIDI server's late cycles (periods in which it
    // may have dropped input unseen).
    void setDeviceHealth(bool missing, quint64 lost, quint64 late = 0);
    // Replaces the comment of the last row shown (nothing on an empty list).
    void SetLastComment(const QString &text);

    // --- Life cycle ----------------------------------------------------------------------------
    void kexitClick();
    void Timer1Timer();

    // --- Capture list --------------------------------------------------------------------------
    void ClearCaptureList();
    void ClearClick();
    void kdeleteallClick();
    void DeleteClick();
    void CommentClick();
    void List1ColumnClick(int column);
    // Takes back the newest change the operator made to the list (menu Edit, "Undo", Ctrl+Z).
    void Undo1Click();

    // --- EDL -----------------------------------------------------------------------------------
    void filename1Click();
    void MakeEDLClick();
    void BuildEdl();
    void SaveClick();
    void makesaveClick();
    void GPO8Click();
    // Writes the EDL to a file, chosen in SaveDlg or (without the dialog) named automatically;
    // EDLs made one per camera go beside that name as <name>_<reel>.edl. True when written;
    // false when the dialog was cancelled or a replacement declined.
    bool SaveEdl(bool withDialog);
    // "EDL Format" menu: the layout Make gives the EDL, and one EDL per camera; each choice is
    // kept in the current desktop at once.
    void CorvaneLayout1Click();
    void CMX36001Click();
    void OneEDLPerCamera1Click();
    // Writes the capture list as a timeline for editors: OpenTimelineIO (.otio) or Final Cut
    // Pro 7 XML (.xml), as chosen in SaveDlg, at the frame rate of the settings.
    void ExportTimeline1Click();

    // --- Capture file --------------------------------------------------------------------------
    void savegpoClick();
    void LoadGPO1Click();
    void loadtest1Click();
    void About1Click();
    void LoadGpoFile(const QString &path);

    // --- Camera table --------------------------------------------------------------------------
    void cameragridExit();
    void cameragridTopLeftChanged();

    // --- Function keys: each puts its button's caption on the marked row (functionKeyComment) ----
    void SCF2Click();
    void scf3Click();
    void scf4Click();
    void SCF5click();
    void F61Click();
    void F71Click();
    void F81Click();
    void F91Click();

    // --- Help, devices, desktops ---------------------------------------------------------------
    // Hands a file of the program's folder to the desktop's default handler for its type; tells
    // "<folder><name>  Not Found" when there is no such file, and the file's path with what to do
    // when nothing on the computer opens it.
    void OpenDocument(const QString &fileName);
    void CorvaneManual1Click();
    void French1Click();
    void Manual1Click();
    void OrvexNameDriver1Click();
    void OnlineSupport1Click();
    // Shows the MIDI device window when it is hidden, hides it when it is shown.
    void kusbClick();
    // The Desktop Setup window, modal; it applies what the operator chose itself.
    void desktop1Click();

protected:
    void FormCreate();
    // A desktop was applied: the window takes up its values at once.
    void KxFormSettingsChange();
    void KxFormShow() override;
    void KxFormClose() override;
    void List1MouseDown(Qt::MouseButton button);
    void List1KeyUp();
    // A mouse button pressed on a function-key button: the left one comments the marked row, any
    // other edits the caption.
    void F2MouseDown(QPushButton *key, Qt::MouseButton button);

    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // The list, for a change other than an arriving device event.
    CaptureList &changeList();
    void buildLayout();
    void buildTimecodePanel(QWidget *client);
    void buildCaptureListView(QWidget *client);
    void buildCameraGrid(QWidget *client);
    void buildCommandPanel(QWidget *client);
    void buildMemo(QWidget *client);
    void buildFunctionKeys(QWidget *client);
    // The jobs of eventFilter: a click other than the left on the list (true: taken), key
    // releases in the list, a mouse button going down on a function key (true: taken).
    bool listViewportEvent(QEvent *event);
    void listEvent(QEvent *event);
    bool functionKeyEvent(QPushButton *key, QEvent *event);
    void buildMenus();
    void connectHandlers();
    void fillCameraGrid();
    // The values of the current desktop the window shows: the camera table, the function-key
    // captions, the GPO8 option and the "EDL Format" choices.
    void readDesktopValues();
    // Sizes and places the controls for the font in use: the designed geometry, scaled up for a
    // taller font, with buttons widened to their captions.
    void arrangeForFont();
    void layoutFunctionKeys();
    void fitCameraGrid();
    void updateMinimumSize();
    // Makes the EDL and saves it; removes the rows it was made from once the file is written.
    void makeAndSave(bool withDialog);
    // A GPO8 trigger cannot run under a dialog or another make-and-save: it waits, and runs once
    // they are over (several triggers meanwhile make one make-and-save).
    bool gpo8MustWait() const;
    void waitWithGpo8Trigger();
    void runWaitingGpo8Trigger();
    void removeRowsMadeInto(int rows);
    // Puts the caption of function-key button F<number> on the marked row: the row chosen in the
    // list while the operator works there, otherwise the last row shown.
    void functionKeyComment(int number);
    // The comment dialog's prompt: the item, timecode and cameras of the row.
    QString commentPrompt(int row) const;
    QString chooseSaveFile(const QString &folder, const QString &proposed, const QString &suffix,
                           const QString &filter);
    // A handler for a signal: runs the slot, showing what it throws.
    auto handler(void (Tedlf::*slot)());

    CaptureList *m_list;
    // Rows from device events reach the view at most once per announcement interval: each notice
    // costs the view a repaint, whatever the number of rows it brings.
    std::optional<CaptureList::AppendBatch> m_arrivingRows;
    QTimer *m_announceTimer = nullptr;
    EdlBuilder m_builder;
    QByteArray m_edlText;
    // The rows the EDL was made from (the first ones of the list): rows that arrive while it is
    // made are not in it.
    int m_edlRows = 0;
    QList<EdlDocument> m_edlDocuments;
    std::array<QPushButton *, 8> m_functionKeys{};
    std::array<QLabel *, 8> m_keyLabels{};
    std::array<QPushButton *, 8> m_commandButtons{};
    AnchorLayout *m_layout = nullptr;
    int m_commandExtent = 0;
    int m_keysExtent = 0;
    QFileDialog *m_saveDlg = nullptr;
    QFileDialog *m_openDlg = nullptr;
    TNoCaptureDevices m_noDevices;
    TCaptureDevices *m_devices = &m_noDevices;
    // A make-and-save (button or GPO8 trigger) is running; its dialogs let device events in.
    bool m_makingAndSaving = false;
    QMetaObject::Connection m_focusWatch;
    CaptureJournal *m_journal = nullptr;
    // The list's change count when it was last written whole to a file; that of the EDL made.
    static constexpr quint64 NoChange = ~quint64(0);
    quint64 m_savedChange = NoChange;
    quint64 m_edlChange = NoChange;
    quint64 m_deviceRows = 0; // rows added by device events
    // The Exit command's question was answered (or not needed): the end is a clean one.
    bool m_exitConfirmed = false;
    bool m_devicesStartedEarly = false;
    bool m_gpo8Waiting = false;
    QTimer *m_gpo8Retry = nullptr;
    QPointer<QDialog> m_gpo8Dialog; // the dialog whose closing the waiting trigger is told of
    QFrame *m_timecodePanel = nullptr;
    QString m_timecode = QStringLiteral("00:00:00:00"); // shown again once the devices are back
    bool m_deviceMissing = false;
    CaptureListFollower *m_follower = nullptr;
};
