#include "KxDialog.h"

#include "KxeButton.h"
#include "ScreenPlacement.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QWindow>

#include <memory>
#include <utility>
#include <vector>

// The bitmaps are compiled into this static library; their registration must be pulled in
// explicitly. Q_INIT_RESOURCE may not be used inside a namespace.
static void initBitmapResources()
{
    Q_INIT_RESOURCE(KxBitmaps);
}

namespace {

const QColor Navy(0, 0, 128);

// A page whose children anchored to its right and bottom edges keep their distances to them.
class AnchoredPage : public QWidget {
public:
    using QWidget::QWidget;

    // Records the child's current distances to the page's right and bottom edges.
    void anchorRightBottom(QWidget *child)
    {
        m_anchored.push_back({child, width() - child->geometry().right(),
                              height() - child->geometry().bottom()});
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget::resizeEvent(event);
        for (const Anchor &a : m_anchored) {
            if (a.child)
                a.child->move(width() - a.right - a.child->width() + 1,
                              height() - a.bottom - a.child->height() + 1);
        }
    }

private:
    struct Anchor {
        QPointer<QWidget> child;
        int right;
        int bottom;
    };
    std::vector<Anchor> m_anchored;
};

// "MS Sans Serif" at 11 pixels where installed, else the system sans at the same size.
QFont dialogFont()
{
    const QString designFamily = QStringLiteral("MS Sans Serif");
    QFont font = QFontDatabase::families().contains(designFamily, Qt::CaseInsensitive)
                     ? QFont(designFamily)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(11);
    return font;
}

QLabel *makePicture(QWidget *page, const char *name, const QRect &geometry)
{
    auto *label = new QLabel(page);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A word-wrapped label of fixed width. Texts are shown as given: plain text, no markup.
QLabel *makeText(QWidget *page, const char *name, const QPoint &pos, int width, int minHeight,
                 const QString &text = QString())
{
    auto *label = new QLabel(page);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setMinimumHeight(minHeight);
    label->setText(text);
    label->setGeometry(QRect(pos, QSize(width, 13)));
    label->resize(width, TKxDlg::fittedLabelHeight(label));
    return label;
}

TKxeButton *makeButton(QWidget *page, const char *name, const QString &caption, const QRect &geometry)
{
    auto *button = new TKxeButton(page);
    button->setObjectName(QLatin1String(name));
    button->setCaption(caption);
    button->setGeometry(geometry);
    button->Colors()->setRing_Off(Navy);
    button->Colors()->setText_Off(Navy);
    QPalette palette = button->palette();
    palette.setColor(QPalette::WindowText, Navy);
    button->setPalette(palette);
    return button;
}

AnchoredPage *makePage(QStackedWidget *pages, const char *name)
{
    auto *page = new AnchoredPage(pages);
    page->setObjectName(QLatin1String(name));
    page->resize(TKxDlg::PagesWidth, TKxDlg::PagesMinHeight);
    pages->addWidget(page);
    return page;
}

// ---------------------------------------------------------------------------------------------
// The shared instance

std::unique_ptr<TKxDlg> &sharedDialog()
{
    static std::unique_ptr<TKxDlg> dialog;
    return dialog;
}

// Widgets must go while the application object still exists: this runs first thing in its
// destructor.
void deleteSharedDialog()
{
    sharedDialog().reset();
}

QPointer<QWidget> &mainWindow()
{
    static QPointer<QWidget> window;
    return window;
}

// Widgets need a QApplication. Without one (a command-line tool, a test of pure logic) nothing
// can be shown: the text goes to the log and the caller gets the answer of a Cancel.
bool canShowDialog(const QString &text)
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        return true;
    qWarning().noquote() << "Dialog without a user interface:" << text;
    return false;
}

// The dialog for one call: the shared one, or a private one when the shared dialog is already
// on screen (a message raised while a question is open must not overwrite the question).
class DialogForCall {
public:
    DialogForCall()
    {
        TKxDlg *shared = KxDlg();
        if (shared->isVisible()) {
            m_own = std::make_unique<TKxDlg>();
            m_dialog = m_own.get();
        } else {
            m_dialog = shared;
        }
    }
    TKxDlg *operator->() const { return m_dialog; }
    TKxDlg *get() const { return m_dialog; }

private:
    std::unique_ptr<TKxDlg> m_own;
    TKxDlg *m_dialog;
};

// Places the dialog on its owner once its contents are set, and runs it modally.
int runModal(TKxDlg *dialog, QWidget *owner)
{
    // An owner inside the dialog itself (the active window while another dialog closes) is none.
    if (owner && owner->window() == dialog)
        owner = nullptr;
    dialog->placeOn(owner);
    dialog->winId(); // creates the native window, so that it can be made transient for the owner
    QWindow *ownerWindow = owner ? owner->window()->windowHandle() : nullptr;
    if (QWindow *handle = dialog->windowHandle())
        handle->setTransientParent(ownerWindow);
    const int result = dialog->exec();
    if (QWindow *handle = dialog->windowHandle())
        handle->setTransientParent(nullptr);
    return result;
}

QString bitmapName(TDlgType type)
{
    switch (type) {
    case dtDefault:
        return QStringLiteral("DT_DEFAULT");
    case dtNoEntry:
        return QStringLiteral("DT_NOENTRY");
    case dtLock:
        return QStringLiteral("DT_LOCK");
    }
    return QString();
}

// Sets the picture of a type; a value outside TDlgType leaves the previous picture.
void setPicture(QLabel *label, TDlgType type)
{
    const QPixmap pixmap = DlgBitmap(type);
    if (!pixmap.isNull())
        label->setPixmap(pixmap);
}

// The text label as wide as designed, or as its longest word where that is wider (a word cannot
// wrap, and a path in a message is one word); the dialog grows with it.
void fitTextWidth(TKxDlg *dialog, QLabel *label)
{
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString &word : label->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        widest = qMax(widest, metrics.horizontalAdvance(word));
    const int extra = qBound(0, widest - TKxDlg::TextWidth, TKxDlg::MaxExtraWidth);
    dialog->setExtraWidth(extra);
    label->resize(TKxDlg::TextWidth + extra, label->height());
}

void showStandardPage(TKxDlg *dialog, TDlgType type, const QString &text, const QString &caption,
                      int page, QLabel *image, QLabel *label)
{
    dialog->setWindowTitle(caption);
    dialog->Pages->setCurrentIndex(page);
    setPicture(image, type);
    label->setText(text);
    fitTextWidth(dialog, label);
    label->resize(label->width(), TKxDlg::fittedLabelHeight(label));
    dialog->setPagesHeight(label->height() + 42);
}

// Runs the string-entry page; returns the edited text after OK, defaultValue otherwise.
QString runStringEntry(QWidget *owner, TDlgType type, const QString &prompt, const QString &caption,
                       const QString &defaultValue)
{
    if (!canShowDialog(prompt))
        return defaultValue;
    DialogForCall dialog;
    dialog->setWindowTitle(caption);
    dialog->Pages->setCurrentIndex(TKxDlg::PageStringEntry);
    dialog->STR_Text->setText(prompt);
    fitTextWidth(dialog.get(), dialog->STR_Text);
    dialog->STR_Text->resize(dialog->STR_Text->width(), TKxDlg::fittedLabelHeight(dialog->STR_Text));
    dialog->STR_Edit->move(dialog->STR_Edit->x(), dialog->STR_Text->height() + 13);
    dialog->setPagesHeight(dialog->STR_Edit->y() + dialog->STR_Edit->height() + 42);
    dialog->STR_Edit->setText(defaultValue);
    if (type == dtLock) {
        dialog->STR_Image->setPixmap(DlgBitmap(dtLock));
        dialog->STR_Edit->setEchoMode(QLineEdit::Password);
    } else {
        dialog->STR_Image->setPixmap(DlgBitmap(dtDefault));
        dialog->STR_Edit->setEchoMode(QLineEdit::Normal);
    }
    if (runModal(dialog.get(), owner) == TKxDlg::mrOk)
        return dialog->STR_Edit->text();
    return defaultValue;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TKxDlg

TKxDlg::TKxDlg(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("KxDlg"));
    setWindowTitle(QStringLiteral("_Caption"));
    setFont(dialogFont());
    setModal(true);

    Pages = new QStackedWidget(this);
    Pages->setObjectName(QStringLiteral("Pages"));
    Pages->move(BorderWidth, BorderWidth);

    // Page 0: one-line text or password entry.
    AnchoredPage *stringEntry = makePage(Pages, "P_STRINGENTRY");
    P_STRINGENTRY = stringEntry;
    STR_Image = makePicture(stringEntry, "STR_Image", QRect(0, 0, 49, 49));
    STR_Text = makeText(stringEntry, "STR_Text", QPoint(64, 0), TextWidth, 0,
                        QStringLiteral("Enter password here"));
    STR_Edit = new QLineEdit(stringEntry);
    STR_Edit->setObjectName(QStringLiteral("STR_Edit"));
    STR_Edit->setGeometry(64, 28, 246, 21);
    STR_Edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    STR_Edit->setEchoMode(QLineEdit::Password);
    STR_Edit->installEventFilter(this);
    STR_Cancel = makeButton(stringEntry, "STR_Cancel", QStringLiteral("Cancel"), QRect(129, 62, 80, 20));
    STR_OK = makeButton(stringEntry, "STR_OK", QStringLiteral("OK"), QRect(224, 62, 86, 20));
    stringEntry->anchorRightBottom(STR_Cancel);
    stringEntry->anchorRightBottom(STR_OK);

    // Page 1: wrong password, with a way back to the entry.
    AnchoredPage *passFail = makePage(Pages, "P_PassFail");
    P_PassFail = passFail;
    PF_Icon = makePicture(passFail, "PF_Icon", QRect(0, 0, 65, 65));
    PF_Icon->setAlignment(Qt::AlignCenter);
    PF_Icon->setPixmap(DlgBitmap(dtNoEntry));
    Label2 = makeText(passFail, "Label2", QPoint(80, 2), 230, 0, QStringLiteral("Incorrect Password"));
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);
    PF_Text = makeText(passFail, "PF_Text", QPoint(80, 26), 230, 0);
    PF_Cancel = makeButton(passFail, "PF_Cancel", QStringLiteral("Cancel"), QRect(96, 82, 80, 20));
    PF_Retry = makeButton(passFail, "PF_Retry", QStringLiteral("Retry"), QRect(207, 82, 80, 20));

    // Page 2: a message.
    AnchoredPage *standard = makePage(Pages, "P_Standard");
    P_Standard = standard;
    STD_Image = makePicture(standard, "STD_Image", QRect(0, 0, 49, 49));
    STD_Text = makeText(standard, "STD_Text", QPoint(64, 0), TextWidth, 41);
    STD_OK = makeButton(standard, "STD_OK", QStringLiteral("OK"), QRect(224, 62, 86, 20));
    standard->anchorRightBottom(STD_OK);

    // Page 3: a question.
    AnchoredPage *query = makePage(Pages, "P_QUERY");
    P_QUERY = query;
    QRY_image = makePicture(query, "QRY_image", QRect(0, 0, 49, 49));
    QRY_Text = makeText(query, "QRY_Text", QPoint(64, 0), TextWidth, 41);
    QRY_Cancel = makeButton(query, "QRY_Cancel", QStringLiteral("Cancel"), QRect(112, 62, 86, 20));
    QRY_OK = makeButton(query, "QRY_OK", QStringLiteral("OK"), QRect(224, 62, 86, 20));
    query->anchorRightBottom(QRY_Cancel);
    query->anchorRightBottom(QRY_OK);

    for (TKxeButton *ok : {STR_OK, STD_OK, QRY_OK})
        connect(ok, &TKxeButton::OnClick, this, &TKxDlg::MR_Ok);
    for (TKxeButton *cancel : {STR_Cancel, QRY_Cancel, PF_Cancel})
        connect(cancel, &TKxeButton::OnClick, this, &TKxDlg::MR_Cancel);
    connect(PF_Retry, &TKxeButton::OnClick, this, &TKxDlg::PF_RetryClick);
    connect(Pages, &QStackedWidget::currentChanged, this, [this](int index) {
        if (isVisible())
            pageShown(index);
    });

    setPagesHeight(PagesMinHeight);
}

TKxDlg::~TKxDlg() = default;

void TKxDlg::setPagesHeight(int height)
{
    height = qMax(height, int(PagesMinHeight));
    const int width = PagesWidth + m_extraWidth;
    Pages->setFixedSize(width, height);
    // The pages follow at once, so that anchored buttons move before the dialog is shown.
    for (int i = 0; i < Pages->count(); ++i)
        Pages->widget(i)->resize(width, height);
    setFixedSize(width + 2 * BorderWidth, height + 2 * BorderWidth);
}

void TKxDlg::setExtraWidth(int extra)
{
    m_extraWidth = qMax(0, extra);
}

int TKxDlg::fittedLabelHeight(QLabel *label)
{
    return qMax(label->minimumHeight(), label->heightForWidth(label->width()));
}

void TKxDlg::placeOn(QWidget *owner)
{
    // Not framed yet, it is taken to get the frame its owner has.
    if (owner)
        ScreenPlacement::knownFrame(owner->window());
    const QSize outer = size().grownBy(ScreenPlacement::frameOf(this));
    QPoint at;
    if (owner) {
        const QRect area = owner->isWindow()
                               ? owner->frameGeometry()
                               : QRect(owner->mapToGlobal(QPoint(0, 0)), owner->size());
        at = QPoint(area.left() + (area.width() - outer.width()) / 2, area.top() + (area.height() - outer.height()) / 2);
    } else {
        const QPoint cursor = QCursor::pos();
        at = QPoint(cursor.x() - outer.width() / 2, cursor.y() - outer.height() / 2);
    }
    // Whole on the screen it lands on, also when its owner or the pointer is near an edge.
    const ScreenLayout screens = ScreenPlacement::screens();
    if (!screens.isEmpty()) {
        const QRect wanted(at, outer);
        at = ScreenPlacement::fitted(wanted, screens.areas.at(screens.screenFor(wanted))).topLeft();
    }
    move(at);
}

void TKxDlg::reject()
{
    // Escape and the window's close both count as Cancel.
    done(mrCancel);
}

void TKxDlg::MR_Ok()
{
    done(mrOk);
}

void TKxDlg::MR_Cancel()
{
    done(mrCancel);
}

void TKxDlg::PF_RetryClick()
{
    Pages->setCurrentIndex(PageStringEntry);
}

void TKxDlg::P_STRINGENTRYShow()
{
    STR_Edit->setFocus(Qt::OtherFocusReason);
    STR_Edit->selectAll();
}

void TKxDlg::P_StandardShow()
{
    STD_OK->setFocus(Qt::OtherFocusReason);
}

void TKxDlg::P_QUERYShow()
{
    QRY_OK->setFocus(Qt::OtherFocusReason);
}

void TKxDlg::pageShown(int index)
{
    switch (index) {
    case PageStringEntry:
        P_STRINGENTRYShow();
        break;
    case PageStandard:
        P_StandardShow();
        break;
    case PageQuery:
        P_QUERYShow();
        break;
    default:
        break;
    }
}

void TKxDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    pageShown(Pages->currentIndex());
}

bool TKxDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == STR_Edit && event->type() == QEvent::KeyPress)
        return STR_EditKeyPress(static_cast<QKeyEvent *>(event));
    return QDialog::eventFilter(watched, event);
}

bool TKxDlg::STR_EditKeyPress(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    MR_Ok();
    return true; // the key goes no further
}

// ---------------------------------------------------------------------------------------------
// Dialog functions

TKxDlg *KxDlg()
{
    std::unique_ptr<TKxDlg> &dialog = sharedDialog();
    if (!dialog) {
        dialog = std::make_unique<TKxDlg>();
        qAddPostRoutine(deleteSharedDialog);
    }
    return dialog.get();
}

void setDlgMainWindow(QWidget *window)
{
    mainWindow() = window;
}

void DlgMessage(const QString &text)
{
    QWidget *owner = mainWindow();
    if (!owner)
        owner = QApplication::activeWindow();
    DlgMessageEx(owner, dtDefault, text, QString());
}

void DlgMessageEx(QWidget *owner, TDlgType type, const QString &text, const QString &caption)
{
    if (!canShowDialog(text))
        return;
    DialogForCall dialog;
    showStandardPage(dialog.get(), type, text, caption, TKxDlg::PageStandard, dialog->STD_Image,
                     dialog->STD_Text);
    runModal(dialog.get(), owner);
}

int DlgQuery(QWidget *owner, const QString &text, const QString &caption)
{
    if (!canShowDialog(text))
        return TKxDlg::mrCancel;
    DialogForCall dialog;
    showStandardPage(dialog.get(), dtDefault, text, caption, TKxDlg::PageQuery, dialog->QRY_image,
                     dialog->QRY_Text);
    // Callers take everything but 2 for a yes: whatever ends the dialog other than OK is Cancel.
    return runModal(dialog.get(), owner) == TKxDlg::mrOk ? TKxDlg::mrOk : TKxDlg::mrCancel;
}

void DlgStringEntry(QWidget *owner, TDlgType type, const QString &prompt, const QString &caption,
                    const QString &defaultValue, QString &value)
{
    value = runStringEntry(owner, type, prompt, caption, defaultValue);
}

void DlgEnterPassword(QWidget *owner, const QString &prompt, bool scramble, QString &value)
{
    const QString entry = runStringEntry(owner, dtLock, prompt, QStringLiteral("Enter Password"), QString());
    if (scramble)
        ScramblePassword(entry, value);
    else
        value = entry;
}

bool DlgCheckPassword(QWidget *owner, const QString &prompt, const QString &caption, const QString &stored)
{
    const QString entry = runStringEntry(owner, dtLock, prompt, caption, QString());
    QString scrambled;
    ScramblePassword(entry, scrambled);
    if (scrambled == stored)
        return true;
    DlgMessageEx(owner, dtNoEntry, QStringLiteral("Incorrect Password"), caption);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Password scrambling

quint8 RotateByte(quint8 value, int amount)
{
    const int places = amount % 8; // the sign is kept: negative turns left
    if (places == 0)
        return value;
    const unsigned v = value;
    if (places > 0)
        return quint8(((v >> places) | (v << (8 - places))) & 0xFFu);
    const int left = -places;
    return quint8(((v << left) | (v >> (8 - left))) & 0xFFu);
}

QByteArray ScrambleText(const QByteArray &text, const QByteArray &key, bool reverse)
{
    // Only the amount modulo 8 matters, so sums are kept modulo 8 and cannot overflow.
    int keySum = 0;
    for (char c : key)
        keySum = (keySum + quint8(c)) % 8;

    QByteArray result(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype position = i + 1;
        const int k = key.isEmpty() ? int(position % 8) : quint8(key.at(i % key.size())) % 8;
        const int amount = k + keySum;
        const bool odd = position % 2 == 1;
        // Reverse: odd positions turn right, even ones left.
        const bool right = odd == reverse;
        result[i] = char(RotateByte(quint8(text.at(i)), right ? amount : -amount));
    }
    return result;
}

void ScramblePassword(const QString &text, QString &result)
{
    bool fitsLatin1 = true;
    for (QChar c : text) {
        if (c.unicode() > 0xFF) {
            fitsLatin1 = false;
            break;
        }
    }
    const QByteArray bytes = fitsLatin1 ? text.toLatin1() : text.toUtf8();
    result = QString::fromLatin1(ScrambleText(bytes, QByteArray(), true));
}

// ---------------------------------------------------------------------------------------------
// Bitmaps

QPixmap KxBitmap(const QString &name)
{
    static const bool registered = [] {
        initBitmapResources();
        return true;
    }();
    Q_UNUSED(registered);
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return QPixmap();
    return QPixmap(QStringLiteral(":/bitmaps/%1.png").arg(name));
}

QPixmap DlgBitmap(TDlgType type)
{
    const QString name = bitmapName(type);
    return name.isEmpty() ? QPixmap() : KxBitmap(name);
}
