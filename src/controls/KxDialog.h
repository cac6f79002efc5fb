#pragma once

#include <QByteArray>
#include <QDialog>
#include <QPixmap>
#include <QString>

class QLabel;
class QLineEdit;
class QStackedWidget;
class QWidget;
class TKxeButton;

// The picture shown beside a dialog's text.
enum TDlgType { dtDefault = 0, dtNoEntry = 1, dtLock = 2 };

// The program's one small modal dialog for messages, questions, one-line text entry and
// passwords. Four pages without tabs; the dialog functions below pick a page, fill it in and
// show the shared instance modally. The modal result is 1 for OK and 2 for Cancel (also when
// the dialog is closed with Escape).
class TKxDlg : public QDialog {
    Q_OBJECT

public:
    enum PageIndex { PageStringEntry = 0, PagePassFail = 1, PageStandard = 2, PageQuery = 3 };
    enum ModalResult { mrOk = 1, mrCancel = 2 };

    static constexpr int PagesWidth = 318;
    static constexpr int PagesMinHeight = 92;
    static constexpr int BorderWidth = 8;
    static constexpr int TextWidth = 241;

    explicit TKxDlg(QWidget *parent = nullptr);
    ~TKxDlg() override;

    // The most the dialog grows beyond its designed width for a word too long to wrap.
    static constexpr int MaxExtraWidth = 600;

    // Sets the height of the page control (never below 92); the dialog follows its size.
    void setPagesHeight(int height);
    // Widens the pages (and the dialog) beyond the designed width; takes effect with the next
    // setPagesHeight.
    void setExtraWidth(int extra);
    // Moves the dialog to the centre of owner, or centres it on the mouse cursor without one.
    void placeOn(QWidget *owner);
    // The height of a word-wrapped text label at its fixed width, with its minimum height.
    static int fittedLabelHeight(QLabel *label);

    void reject() override;

    QStackedWidget *Pages;

    QWidget *P_STRINGENTRY;
    QLabel *STR_Image;
    QLabel *STR_Text;
    QLineEdit *STR_Edit;
    TKxeButton *STR_Cancel;
    TKxeButton *STR_OK;

    QWidget *P_PassFail;
    QLabel *PF_Icon;
    QLabel *Label2;
    QLabel *PF_Text;
    TKxeButton *PF_Cancel;
    TKxeButton *PF_Retry;

    QWidget *P_Standard;
    QLabel *STD_Image;
    QLabel *STD_Text;
    TKxeButton *STD_OK;

    QWidget *P_QUERY;
    QLabel *QRY_image;
    QLabel *QRY_Text;
    TKxeButton *QRY_Cancel;
    TKxeButton *QRY_OK;

public slots:
    void MR_Ok();
    void MR_Cancel();
    void PF_RetryClick();
    void P_STRINGENTRYShow();
    void P_StandardShow();
    void P_QUERYShow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool STR_EditKeyPress(QKeyEvent *event);
    void pageShown(int index);

    int m_extraWidth = 0;
};

// The shared dialog, created on first use (a QApplication must exist). It is deleted when the
// application object is destroyed.
TKxDlg *KxDlg();

// The window that DlgMessage places its dialog on. Without one (or once it is gone) the active
// window is used, else the mouse cursor.
void setDlgMainWindow(QWidget *window);

void DlgMessage(const QString &text);
void DlgMessageEx(QWidget *owner, TDlgType type, const QString &text, const QString &caption);
// 1 for OK, 2 for Cancel.
int DlgQuery(QWidget *owner, const QString &text, const QString &caption);
// value: the edited text after OK, else defaultValue.
void DlgStringEntry(QWidget *owner, TDlgType type, const QString &prompt, const QString &caption,
                    const QString &defaultValue, QString &value);
// value: the entry (scrambled when asked); empty after Cancel.
void DlgEnterPassword(QWidget *owner, const QString &prompt, bool scramble, QString &value);
// True when the scrambled entry equals stored; a mismatch is told to the user before false.
bool DlgCheckPassword(QWidget *owner, const QString &prompt, const QString &caption, const QString &stored);

// The stored form of a password: the text's bytes rotated position by position. The result
// holds one character per scrambled byte (Latin-1), ready for an INI file. The bytes of the
// text are its Latin-1 encoding when every character fits Latin-1, else its UTF-8 encoding.
void ScramblePassword(const QString &text, QString &result);
// Rotates byte i (1-based) by k + s places, where s is the sum of the key's bytes and k the
// key's byte for that position (the key repeats) or, with an empty key, i itself. Reverse: odd
// positions turn right and even ones left; otherwise the other way round.
QByteArray ScrambleText(const QByteArray &text, const QByteArray &key, bool reverse);
// Rotates within 8 bits: right for a positive amount, left for a negative one, by the amount's
// remainder modulo 8.
quint8 RotateByte(quint8 value, int amount);

// The named bitmaps of the program: "DT_DEFAULT", "DT_NOENTRY", "DT_LOCK" (48 x 48),
// "LOCKED", "UNLOCKED" (16 x 16). An unknown name gives a null pixmap.
QPixmap KxBitmap(const QString &name);
// The picture of a dialog type; null for a value outside TDlgType.
QPixmap DlgBitmap(TDlgType type);
