#include "CaptureWindow.h"

#include "AnchorLayout.h"
#include "AppPaths.h"
#include "CameraTable.h"
#include "CaptureFile.h"
#include "CaptureJournal.h"
#include "CaptureListFollower.h"
#include "EdlText.h"
#include "LinesView.h"
#include "WorkProgress.h"
#include "Clock.h"
#include "CorvaneVersion.h"
#include "DocumentFiles.h"
#include "DocumentViewer.h"
#include "EdlFile.h"
#include "Errors.h"
#include "FileDialogs.h"
#include "ErrorReport.h"
#include "Fcp7XmlWriter.h"
#include "KxDialog.h"
#include "MenuItems.h"
#include "KxSettings.h"
#include "OtioWriter.h"
#include "SettingsKeys.h"
#include "Timeline.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPersistentModelIndex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

using namespace SettingsKeys;

namespace {

// Capture list columns: width, the narrowest a column may be dragged to, and the text it was
// designed to show whole.
struct ListColumn {
    int width;
    int minimum;
    const char *fullText;
};
constexpr ListColumn ListColumns[CaptureList::ColumnCount] = {
    {34, 8, "0000"}, {50, 12, "0000"}, {70, 40, "00:00:00:00"}, {70, 40, "00:00:00:00"}, {1200, 0, ""}};

const QString TimecodeText = QStringLiteral("00:00:00:00");

constexpr int GridRows = CameraTable::CameraCount + 1;
constexpr int GridColumns = 3;
constexpr int GridColumnWidths[GridColumns] = {50, 232, 75};
constexpr int GridNameColumn = 1;
constexpr int GridRowHeight = 24;

// The line height of the designed font (8 point at 96 dpi); a font in use that is taller makes
// every designed size larger by the same ratio.
constexpr double DesignFontHeight = 13.0;

// Designed places inside the panels.
const QRect TimecodePlace(120, 4, 128, 25);
const QRect LostEventsPlace(256, 4, 240, 25);
constexpr int TimecodePixels = 21;
constexpr int CommandButtonY = 4, CommandButtonWidth = 70, CommandButtonHeight = 25, CommandButtonPitch = 76;
constexpr int KeyLabelHeight = 22, KeyButtonY = 24, KeyButtonHeight = 25, KeyLabelPixels = 19;
// Room kept between buttons that grew to their captions.
constexpr int ButtonGap = 3;
// The capture list keeps at least this many rows on screen when the window is made small.
constexpr int MinimumListRows = 3;

// Function-key buttons F2 to F9 in Panel2: x and width; all 25 high at y = 24.
struct KeyPlace {
    int x;
    int width;
};
constexpr KeyPlace FunctionKeyPlaces[8] = {{0, 68}, {75, 73}, {151, 68}, {226, 68},
                                           {302, 68}, {377, 68}, {453, 68}, {528, 68}};

// Files of the program's folder opened from the Help menu.
const QString EnglishManual = QStringLiteral("Corvane.pdf");
const QString FrenchManual = QStringLiteral("Corvane_fr.pdf");
const QString InterfaceManual = QStringLiteral("orvex-usb.pdf");
const QString DriverManual = QStringLiteral("orvexusb-driver.pdf");
const QString SupportProgram = QStringLiteral("kxhelp.exe");

const QString EdlFilter = QStringLiteral("EDL Files (*.edl *.EDL)");
const QString GpoFilter = QStringLiteral("CPO Files (*.gpo *.GPO)");
const QString OtioFilter = QStringLiteral("OpenTimelineIO (*.otio)");
const QString Fcp7XmlFilter = QStringLiteral("Final Cut Pro 7 XML (*.xml)");

// The settings file, when it is open (it is not after the window's close message).
TKxSettingsFile *settings()
{
    return SettingsFile;
}

QString settingString(const QString &key)
{
    return settings() ? settings()->GetString(key) : QString();
}

void setSettingString(const QString &key, const QString &value)
{
    if (settings())
        settings()->SetString(key, value);
}

bool isWithin(const QWidget *widget, const QWidget *container)
{
    return widget && (widget == container || container->isAncestorOf(widget));
}

// A folder for a file dialog to start in: the stored one when it exists, else the documents
// folder (never the process's current folder).
QString startFolder(const QString &stored)
{
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored;
    return EdlFile::documentsFolder();
}

QFont windowFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

// The camera grid's cells take the text while it is typed, so that the EDL uses what the grid
// shows even while a cell is being edited.
class LiveEditDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto *line = qobject_cast<QLineEdit *>(editor)) {
            auto *self = const_cast<LiveEditDelegate *>(this);
            connect(line, &QLineEdit::textEdited, self, [self, line] { emit self->commitData(line); });
        }
        return editor;
    }
};

QPushButton *commandButton(QWidget *panel, const char *name, const QString &caption, int x)
{
    auto *button = new QPushButton(caption, panel);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, CommandButtonY, CommandButtonWidth, CommandButtonHeight);
    return button;
}

// The width a push button needs to show its caption whole in its font: the text's advance and
// the margins its style draws around the text.
int buttonWidthFor(const QPushButton *button, int height)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.rect = QRect(0, 0, 200, height);
    const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    QString shown = button->text();
    shown.replace(QLatin1String("&&"), QLatin1String("\x01"));
    shown.remove(QLatin1Char('&'));
    shown.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return button->fontMetrics().horizontalAdvance(shown) + (200 - contents.width()) + 2;
}

QMenu *subMenu(QWidget *parent, const char *name, const QString &caption)
{
    auto *menu = new QMenu(caption, parent);
    menu->setObjectName(QLatin1String(name));
    return menu;
}

} // namespace

Tedlf::Tedlf(QWidget *parent) : TKxForm(parent), m_list(new CaptureList(this))
{
    setObjectName(QStringLiteral("edlf"));
    setWindowTitle(QStringLiteral("edlf"));
    setFont(windowFont());

    // Device events arrive in bursts; the list tells its view of them together instead of once
    // per row. Any other change to the list tells the view of arrived rows first.
    m_list->setDeferredInserts(true);
    m_announceTimer = new QTimer(this);
    m_announceTimer->setSingleShot(true);
    m_announceTimer->setInterval(RowAnnounceInterval);
    connect(m_announceTimer, &QTimer::timeout, this, [this] { m_arrivingRows.reset(); });
    // Every change of the operator can be taken back; rows from the device are never undone.
    m_list->setUndoEnabled(true);
    // A waiting GPO8 trigger looks again this often while no dialog's closing tells it.
    m_gpo8Retry = new QTimer(this);
    m_gpo8Retry->setInterval(50);
    connect(m_gpo8Retry, &QTimer::timeout, this, &Tedlf::runWaitingGpo8Trigger);

    buildLayout();
    buildMenus();
    connectHandlers();

    arrangeForFont();
    move(402, 33);
    resize(m_layout->scaledDesignSize() + QSize(0, MainMenu1->sizeHint().height()));

    runGuarded([this] { FormCreate(); });
    connect(this, &TKxForm::OnSettingsChange, this, [this] { runGuarded([this] { KxFormSettingsChange(); }); });
}

Tedlf::~Tedlf()
{
    // The grid's focus watch must not outlive the window's own members.
    disconnect(m_focusWatch);
    m_arrivingRows.reset();
    // Not a clean exit unless the window was closed first: the journal stays for recovery.
    if (m_journal)
        m_journal->close();
}

void Tedlf::setDevices(TCaptureDevices *devices)
{
    m_devices = devices ? devices : &m_noDevices;
}

auto Tedlf::handler(void (Tedlf::*slot)())
{
    return [this, slot] { runGuarded([&] { (this->*slot)(); }); };
}

// ---------------------------------------------------------------------------------------------
// Layout

namespace {
// Which sides of the client area a widget keeps its distance to as the window is resized.
using A = AnchorLayout;
} // namespace

void Tedlf::buildLayout()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    m_layout = new AnchorLayout(QSize(DesignClientWidth, DesignClientHeight), client);
    // Top to bottom, as the window shows them; arrangeForFont sizes them for the font in use.
    buildTimecodePanel(client);
    buildCaptureListView(client);
    buildCameraGrid(client);
    buildCommandPanel(client);
    buildMemo(client);
    buildFunctionKeys(client);
    setCentralWidget(client);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    List1->installEventFilter(this);
    List1->viewport()->installEventFilter(this);
}

// The running timecode, with the lost-events line beside it.
void Tedlf::buildTimecodePanel(QWidget *client)
{
    auto *timecodePanel = new QFrame(client);
    timecodePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_layout->addWidget(timecodePanel, QRect(0, 0, 504, 33), A::Left | A::Top | A::Right);

    tcpoz = new QLabel(QStringLiteral("00:00:00:00"), timecodePanel);
    tcpoz->setObjectName(QStringLiteral("tcpoz"));
    tcpoz->setGeometry(TimecodePlace);
    tcpoz->setAutoFillBackground(true);
    QPalette lime = tcpoz->palette();
    lime.setColor(QPalette::Window, QColor(0, 255, 0));
    lime.setColor(QPalette::WindowText, Qt::black);
    tcpoz->setPalette(lime);
    m_timecodePanel = timecodePanel;

    lostevents = new QLabel(timecodePanel);
    lostevents->setObjectName(QStringLiteral("lostevents"));
    {
        QPalette red = lostevents->palette();
        red.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
        lostevents->setPalette(red);
    }
    lostevents->hide();
}

// The capture list: whole rows selected, sorted only by a click on a heading.
void Tedlf::buildCaptureListView(QWidget *client)
{
    List1 = new QTableView(client);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setModel(m_list);
    List1->setSelectionBehavior(QAbstractItemView::SelectRows);
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List1->setShowGrid(true);
    List1->setWordWrap(false);
    List1->setSortingEnabled(false); // header clicks sort once, through List1ColumnClick
    List1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    {
        QHeaderView *rows = List1->verticalHeader();
        rows->hide();
        // One fixed height for every row: the view never measures rows, whatever their number.
        rows->setSectionResizeMode(QHeaderView::Fixed);
        rows->setMinimumSectionSize(1);
        QHeaderView *columns = List1->horizontalHeader();
        columns->setSectionsClickable(true);
        columns->setHighlightSections(false);
        columns->setSortIndicatorShown(false);
        columns->setStretchLastSection(false);
        columns->setMinimumSectionSize(0);
        // Column widths: arrangeForFont.
        connect(columns, &QHeaderView::sectionResized, this, [columns](int section, int, int size) {
            if (section >= 0 && section < CaptureList::ColumnCount && size < ListColumns[section].minimum)
                columns->resizeSection(section, ListColumns[section].minimum);
        });
    }
    m_layout->addWidget(List1, QRect(0, 40, 486, 394), A::Left | A::Top | A::Bottom);
    m_follower = new CaptureListFollower(List1);
}

// The camera table: reel name and edit type of each camera, edited in place.
void Tedlf::buildCameraGrid(QWidget *client)
{
    cameragrid = new QTableWidget(GridRows, GridColumns, client);
    cameragrid->setObjectName(QStringLiteral("cameragrid"));
    cameragrid->horizontalHeader()->hide();
    cameragrid->verticalHeader()->hide();
    // The columns always fit across; the 16 cameras scroll when the window is too low for them.
    cameragrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cameragrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    cameragrid->setShowGrid(true);
    cameragrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    cameragrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                | QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    cameragrid->setItemDelegate(new LiveEditDelegate(cameragrid));
    cameragrid->verticalHeader()->setMinimumSectionSize(1);
    cameragrid->verticalHeader()->setDefaultSectionSize(GridRowHeight);
    cameragrid->horizontalHeader()->setMinimumSectionSize(1);
    for (int c = 0; c < GridColumns; ++c)
        cameragrid->setColumnWidth(c, GridColumnWidths[c]);
    // The name column takes the width the other two leave, so that the edit type keeps its room
    // beside the scroll bar when one shows.
    cameragrid->horizontalHeader()->setSectionResizeMode(GridNameColumn, QHeaderView::Stretch);
    for (int r = 0; r < GridRows; ++r) {
        for (int c = 0; c < GridColumns; ++c) {
            auto *item = new QTableWidgetItem;
            if (r == 0 || c == 0) {
                // Headings and camera numbers: fixed cells, neither editable nor selectable.
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(cameragrid->palette().button());
            } else {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
            }
            cameragrid->setItem(r, c, item);
        }
    }
    cameragrid->setCurrentCell(1, 1);
    m_layout->addWidget(cameragrid, QRect(500, 0, 362, 434), A::Left | A::Top | A::Bottom);
}

// The command buttons below the list.
void Tedlf::buildCommandPanel(QWidget *client)
{
    Panel1 = new QFrame(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Kfilname = commandButton(Panel1, "Kfilname", QStringLiteral("File Name"), 4);
    kdelete = commandButton(Panel1, "kdelete", QStringLiteral("Delete"), 80);
    Kcomment = commandButton(Panel1, "Kcomment", QStringLiteral("Comment"), 156);
    kdeleteall = commandButton(Panel1, "kdeleteall", QStringLiteral("Delete All"), 232);
    button5 = commandButton(Panel1, "button5", QStringLiteral("Make"), 308);
    button6 = commandButton(Panel1, "button6", QStringLiteral("button6"), 384);
    button6->setEnabled(false);
    makesave = commandButton(Panel1, "makesave", QStringLiteral("Make&&Save"), 460);
    kexit = commandButton(Panel1, "kexit", QStringLiteral("Exit"), 536);
    m_commandButtons = {Kfilname, kdelete, Kcomment, kdeleteall, button5, button6, makesave, kexit};
    m_layout->addWidget(Panel1, QRect(0, 434, 862, 33), A::Left | A::Right | A::Bottom);
}

// The EDL made, read-only, in a fixed-pitch font.
void Tedlf::buildMemo(QWidget *client)
{
    Memo1 = new LinesView(client);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("EDL"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont(QStringLiteral("Courier New"));
    memoFont.setStyleHint(QFont::TypeWriter);
    memoFont.setFixedPitch(true);
    memoFont.setPointSize(8);
    Memo1->setFont(memoFont);
    m_layout->addWidget(Memo1, QRect(0, 463, 869, 193), A::Left | A::Right | A::Bottom);
}

// The function-key panel: F2 to F9, each a caption above its button.
void Tedlf::buildFunctionKeys(QWidget *client)
{
    Panel2 = new QFrame(client);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    QFont keyFont = font();
    keyFont.setBold(true);
    keyFont.setPixelSize(19);
    QPushButton **keys[8] = {&F2, &F3, &F4, &F5, &F6, &F7, &F8, &F9};
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("F%1").arg(i + 2);
        const KeyPlace place = FunctionKeyPlaces[i];
        auto *label = new QLabel(name, Panel2);
        label->setObjectName(QStringLiteral("Label") + name);
        label->setFont(keyFont);
        label->setGeometry(place.x + 4, 0, place.width - 4, KeyLabelHeight);
        m_keyLabels[static_cast<size_t>(i)] = label;
        auto *button = new QPushButton(Panel2);
        button->setObjectName(name);
        button->setGeometry(place.x, KeyButtonY, place.width, KeyButtonHeight);
        // The buttons act on the mouse button going down, not on a click: activating a focused
        // button from the keyboard does nothing.
        button->installEventFilter(this);
        // A click leaves the keyboard focus where it was: in the list, the row chosen there
        // stays the one the keys comment.
        button->setFocusPolicy(Qt::TabFocus);
        *keys[i] = button;
        m_functionKeys[static_cast<size_t>(i)] = button;
    }
    F2->setText(QStringLiteral("Keep"));
    F3->setText(QStringLiteral("Discard"));
    m_layout->addWidget(Panel2, QRect(0, 651, 861, 70), A::Left | A::Right | A::Bottom);
}

void Tedlf::changeEvent(QEvent *event)
{
    TKxForm::changeEvent(event);
    // A desktop's own font for the window (its font size and name) comes through here.
    if (event->type() == QEvent::FontChange && m_layout)
        arrangeForFont();
}

void Tedlf::arrangeForFont()
{
    // A font taller than the designed one takes every designed size up by the same ratio; then
    // each button grows further where its caption needs it.
    const double scale = std::max(1.0, QFontMetricsF(font()).height() / DesignFontHeight);
    const double before = m_layout->scale();
    m_layout->setScale(scale);
    auto scaled = [this](const QRect &designed) { return m_layout->scaled(designed); };
    auto pixels = [scale](int designed) { return qRound(designed * scale); };

    // The sans that stands in for a missing Tahoma can be wider: the label keeps its designed
    // size and the font shrinks until the frames show.
    tcpoz->setGeometry(scaled(TimecodePlace));
    QFont timecodeFont(QStringLiteral("Tahoma"));
    timecodeFont.setStyleHint(QFont::SansSerif);
    timecodeFont.setBold(true);
    timecodeFont.setPixelSize(pixels(TimecodePixels));
    while (timecodeFont.pixelSize() > 8
           && QFontMetrics(timecodeFont).horizontalAdvance(TimecodeText) > tcpoz->contentsRect().width())
        timecodeFont.setPixelSize(timecodeFont.pixelSize() - 1);
    tcpoz->setFont(timecodeFont);
    // Lost events are told beside the timecode, a little smaller.
    lostevents->setGeometry(scaled(LostEventsPlace));
    QFont lostFont = timecodeFont;
    lostFont.setPixelSize(std::max(8, timecodeFont.pixelSize() - 5));
    lostevents->setFont(lostFont);

    int right = 0;
    for (size_t i = 0; i < m_commandButtons.size(); ++i) {
        QPushButton *button = m_commandButtons[i];
        const QRect designed = scaled(QRect(4 + CommandButtonPitch * int(i), CommandButtonY, CommandButtonWidth,
                                            CommandButtonHeight));
        const int width = std::max(designed.width(), buttonWidthFor(button, designed.height()));
        const int x = i == 0 ? designed.x() : std::max(designed.x(), right + pixels(ButtonGap));
        button->setGeometry(x, designed.y(), width, designed.height());
        right = x + width;
    }
    m_commandExtent = right + pixels(4);

    QFont keyFont = font();
    keyFont.setBold(true);
    keyFont.setPixelSize(pixels(KeyLabelPixels));
    for (QLabel *label : m_keyLabels)
        label->setFont(keyFont);
    layoutFunctionKeys();

    fitCameraGrid();

    // The capture list: as designed, unless the font in use needs more to show the column's text
    // whole (the view elides what does not fit: a timecode would lose its frames).
    List1->verticalHeader()->setDefaultSectionSize(List1->fontMetrics().height() + 4);
    QHeaderView *columns = List1->horizontalHeader();
    const int textMargins = 2 * (List1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, List1) + 1) + 1;
    const int headerMargins = 2 * List1->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, columns) + 2;
    for (int c = 0; c < CaptureList::ColumnCount; ++c) {
        const int needed = std::max(List1->fontMetrics().horizontalAdvance(QLatin1String(ListColumns[c].fullText)) + textMargins,
                                    columns->fontMetrics().horizontalAdvance(m_list->headerData(c, Qt::Horizontal).toString())
                                        + headerMargins);
        columns->resizeSection(c, std::max(pixels(ListColumns[c].width), needed));
    }

    updateMinimumSize();
    // A window sized for the previous font keeps its proportions.
    if (before != scale && isVisible())
        resize(qRound(width() * scale / before), qRound(height() * scale / before));
}

void Tedlf::fitCameraGrid()
{
    // The camera table's rows and columns, at least as high as its font and as wide as the texts
    // of its fixed cells (the headings and the camera numbers), the grid line included.
    const double scale = m_layout->scale();
    const QFontMetrics metrics(cameragrid->font());
    const int cellMargins = 2 * (cameragrid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, cameragrid) + 1) + 2;
    cameragrid->verticalHeader()->setDefaultSectionSize(std::max(qRound(GridRowHeight * scale), metrics.height() + 4));
    for (int c = 0; c < GridColumns; ++c) {
        if (c == GridNameColumn)
            continue; // what the others leave
        int widest = 0;
        for (int r = 0; r < GridRows; ++r) {
            if (!(cameragrid->item(r, c)->flags() & Qt::ItemIsEditable))
                widest = std::max(widest, metrics.horizontalAdvance(cameragrid->item(r, c)->text()));
        }
        cameragrid->setColumnWidth(c, std::max(qRound(GridColumnWidths[c] * scale), widest + cellMargins));
    }
}

void Tedlf::layoutFunctionKeys()
{
    // Each key at its designed place, or further right and wider where its caption needs more
    // room; its "F" label goes with it.
    const double scale = m_layout->scale();
    auto scaled = [this](const QRect &designed) { return m_layout->scaled(designed); };
    int right = 0;
    for (size_t i = 0; i < m_functionKeys.size(); ++i) {
        const KeyPlace place = FunctionKeyPlaces[i];
        const QRect designed = scaled(QRect(place.x, KeyButtonY, place.width, KeyButtonHeight));
        QPushButton *key = m_functionKeys[i];
        const int width = std::max(designed.width(), buttonWidthFor(key, designed.height()));
        const int x = i == 0 ? designed.x() : std::max(designed.x(), right + qRound(ButtonGap * scale));
        key->setGeometry(x, designed.y(), width, designed.height());
        const QRect label = scaled(QRect(place.x + 4, 0, place.width - 4, KeyLabelHeight));
        m_keyLabels[i]->setGeometry(x + (label.x() - designed.x()), label.y(), width - (label.x() - designed.x()),
                                    std::max(label.height(), m_keyLabels[i]->fontMetrics().height()));
        right = x + width;
    }
    m_keysExtent = right;
    updateMinimumSize();
}

void Tedlf::updateMinimumSize()
{
    // Made small, the window keeps every button and the camera table's width whole and a few
    // rows of the capture list; the lists and the memo give up their room first.
    const double scale = m_layout->scale();
    auto pixels = [scale](int designed) { return qRound(designed * scale); };
    const int width = std::max({m_commandExtent + pixels(DesignClientWidth - 862), m_keysExtent + pixels(DesignClientWidth - 861),
                                pixels(862), tcpoz->geometry().right() + pixels(4) + pixels(DesignClientWidth - 504)});
    const int listHeight = pixels(394);
    const int rows = List1->verticalHeader()->defaultSectionSize() * MinimumListRows + List1->horizontalHeader()->height();
    const int height = pixels(DesignClientHeight) - listHeight + std::min(listHeight, rows + 4);
    centralWidget()->setMinimumSize(width, height);
}

void Tedlf::buildMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    GPO1 = subMenu(this, "GPO1", QStringLiteral("File"));
    SaveGPO1 = menuItem(GPO1, "SaveGPO1", QStringLiteral("Save GPO"), QKeySequence(Qt::CTRL | Qt::Key_S));
    LoadGPO1 = menuItem(GPO1, "LoadGPO1", QStringLiteral("Load GPO"), QKeySequence(Qt::CTRL | Qt::Key_L));
    MakeEdl1 = menuItem(GPO1, "MakeEdl1", QStringLiteral("Make Edl"), QKeySequence(Qt::CTRL | Qt::Key_M));
    SaveEDL1 = menuItem(GPO1, "SaveEDL1", QStringLiteral("Save EDL"), QKeySequence(Qt::CTRL | Qt::Key_E));
    ExportTimeline1 = menuItem(GPO1, "ExportTimeline1", QStringLiteral("Export Timeline\u2026"));
    cleargpo = menuItem(GPO1, "cleargpo", QStringLiteral("Clear GPO"), QKeySequence(Qt::CTRL | Qt::Key_G));
    desktop1 = menuItem(GPO1, "desktop1", QStringLiteral("Save/Load Desktop"));
    Exit1 = menuItem(GPO1, "Exit1", QStringLiteral("Exit"));
    MainMenu1->addMenu(GPO1);

    Edit1 = subMenu(this, "Edit1", QStringLiteral("Edit"));
    Undo1 = menuItem(Edit1, "Undo1", QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    Undo1->setEnabled(false);
    MainMenu1->addMenu(Edit1);

    EDLFormat1 = subMenu(this, "EDLFormat1", QStringLiteral("EDL Format"));
    CorvaneLayout1 = menuItem(EDLFormat1, "CorvaneLayout1", QStringLiteral("Corvane layout"));
    CMX36001 = menuItem(EDLFormat1, "CMX36001", QStringLiteral("CMX 3600"));
    auto *layouts = new QActionGroup(this);
    for (QAction *layout : {CorvaneLayout1, CMX36001}) {
        layout->setCheckable(true);
        layouts->addAction(layout);
    }
    CorvaneLayout1->setChecked(true);
    EDLFormat1->addSeparator();
    OneEDLPerCamera1 = menuItem(EDLFormat1, "OneEDLPerCamera1", QStringLiteral("One EDL per camera"));
    OneEDLPerCamera1->setCheckable(true);
    MainMenu1->addMenu(EDLFormat1);

    Interface1 = subMenu(this, "Interface1", QStringLiteral("Setup"));
    filename1 = menuItem(Interface1, "filename1", QStringLiteral("File Name"));
    USB1 = menuItem(Interface1, "USB1", QStringLiteral("USB"));
    GPO8 = menuItem(Interface1, "GPO8", QStringLiteral("GPO8 = Make+Save"));
    GPO8->setCheckable(true);
    MainMenu1->addMenu(Interface1);

    Help1 = subMenu(this, "Help1", QStringLiteral("Help"));
    CorvaneManual1 = subMenu(Help1, "CorvaneManual1", QStringLiteral("Corvane Manual"));
    English1 = menuItem(CorvaneManual1, "English1", QStringLiteral("English"));
    French1 = menuItem(CorvaneManual1, "French1", QStringLiteral("French"));
    CorvaneManual1->menuAction()->setObjectName(QStringLiteral("CorvaneManual1Item"));
    Help1->addMenu(CorvaneManual1);
    Manual1 = menuItem(Help1, "Manual1", QStringLiteral("Orvex-USB Manual"));
    OrvexNameDriver1 = menuItem(Help1, "OrvexNameDriver1", QStringLiteral("Orvex Name Driver"));
    OnlineSupport1 = menuItem(Help1, "OnlineSupport1", QStringLiteral("Online Support"));
    loadtest1 = menuItem(Help1, "loadtest1", QStringLiteral("loadtest"));
    Help1->addSeparator();
    About1 = menuItem(Help1, "About1", QStringLiteral("About Corvane"));
    MainMenu1->addMenu(Help1);

    FunctionMacro1 = subMenu(this, "FunctionMacro1", QStringLiteral("Function Key Macro"));
    QAction **macros[8] = {&F21, &F31, &F41, &F51, &F61, &F71, &F81, &F91};
    const Qt::Key keys[8] = {Qt::Key_F2, Qt::Key_F3, Qt::Key_F4, Qt::Key_F5,
                             Qt::Key_F6, Qt::Key_F7, Qt::Key_F8, Qt::Key_F9};
    for (int i = 0; i < 8; ++i) {
        const QByteArray name = QStringLiteral("F%11").arg(i + 2).toLatin1();
        *macros[i] = menuItem(FunctionMacro1, name.constData(), QStringLiteral("F%1").arg(i + 2), QKeySequence(keys[i]));
        // A hidden menu's items take no shortcuts; the window itself carries them.
        addAction(*macros[i]);
    }
    MainMenu1->addMenu(FunctionMacro1)->setVisible(false);
}

void Tedlf::connectHandlers()
{
    connect(Kfilname, &QPushButton::clicked, this, handler(&Tedlf::filename1Click));
    connect(kdelete, &QPushButton::clicked, this, handler(&Tedlf::DeleteClick));
    connect(Kcomment, &QPushButton::clicked, this, handler(&Tedlf::CommentClick));
    connect(kdeleteall, &QPushButton::clicked, this, handler(&Tedlf::kdeleteallClick));
    connect(button5, &QPushButton::clicked, this, handler(&Tedlf::MakeEDLClick));
    connect(button6, &QPushButton::clicked, this, handler(&Tedlf::SaveClick));
    connect(makesave, &QPushButton::clicked, this, handler(&Tedlf::makesaveClick));
    connect(kexit, &QPushButton::clicked, this, handler(&Tedlf::kexitClick));

    connect(SaveGPO1, &QAction::triggered, this, handler(&Tedlf::savegpoClick));
    connect(LoadGPO1, &QAction::triggered, this, handler(&Tedlf::LoadGPO1Click));
    connect(MakeEdl1, &QAction::triggered, this, handler(&Tedlf::MakeEDLClick));
    connect(SaveEDL1, &QAction::triggered, this, handler(&Tedlf::SaveClick));
    connect(ExportTimeline1, &QAction::triggered, this, handler(&Tedlf::ExportTimeline1Click));
    connect(CorvaneLayout1, &QAction::triggered, this, handler(&Tedlf::CorvaneLayout1Click));
    connect(CMX36001, &QAction::triggered, this, handler(&Tedlf::CMX36001Click));
    connect(OneEDLPerCamera1, &QAction::triggered, this, handler(&Tedlf::OneEDLPerCamera1Click));
    connect(cleargpo, &QAction::triggered, this, handler(&Tedlf::ClearClick));
    connect(Exit1, &QAction::triggered, this, handler(&Tedlf::kexitClick));
    connect(Undo1, &QAction::triggered, this, handler(&Tedlf::Undo1Click));
    connect(m_list, &CaptureList::undoAvailable, Undo1, &QAction::setEnabled);
    connect(filename1, &QAction::triggered, this, handler(&Tedlf::filename1Click));
    // Qt has flipped the check mark when triggered arrives; GPO8Click flips it itself.
    connect(GPO8, &QAction::triggered, this, [this] {
        GPO8->setChecked(!GPO8->isChecked());
        runGuarded([this] { GPO8Click(); });
    });
    connect(loadtest1, &QAction::triggered, this, handler(&Tedlf::loadtest1Click));
    connect(About1, &QAction::triggered, this, handler(&Tedlf::About1Click));
    connect(desktop1, &QAction::triggered, this, handler(&Tedlf::desktop1Click));
    connect(USB1, &QAction::triggered, this, handler(&Tedlf::kusbClick));
    connect(English1, &QAction::triggered, this, handler(&Tedlf::CorvaneManual1Click));
    connect(French1, &QAction::triggered, this, handler(&Tedlf::French1Click));
    connect(Manual1, &QAction::triggered, this, handler(&Tedlf::Manual1Click));
    connect(OrvexNameDriver1, &QAction::triggered, this, handler(&Tedlf::OrvexNameDriver1Click));
    connect(OnlineSupport1, &QAction::triggered, this, handler(&Tedlf::OnlineSupport1Click));

    connect(F21, &QAction::triggered, this, handler(&Tedlf::SCF2Click));
    connect(F31, &QAction::triggered, this, handler(&Tedlf::scf3Click));
    connect(F41, &QAction::triggered, this, handler(&Tedlf::scf4Click));
    connect(F51, &QAction::triggered, this, handler(&Tedlf::SCF5click));
    connect(F61, &QAction::triggered, this, handler(&Tedlf::F61Click));
    connect(F71, &QAction::triggered, this, handler(&Tedlf::F71Click));
    connect(F81, &QAction::triggered, this, handler(&Tedlf::F81Click));
    connect(F91, &QAction::triggered, this, handler(&Tedlf::F91Click));

    connect(List1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { runGuarded([&] { List1ColumnClick(column); }); });
    connect(Timer1, &QTimer::timeout, this, handler(&Tedlf::Timer1Timer));

    connect(cameragrid->horizontalScrollBar(), &QScrollBar::valueChanged, this, &Tedlf::cameragridTopLeftChanged);
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (isWithin(old, cameragrid) && !isWithin(now, cameragrid))
            runGuarded([this] { cameragridExit(); });
    });
}

// ---------------------------------------------------------------------------------------------
// Life cycle

void Tedlf::FormCreate()
{
    ClearCaptureList();
    readDesktopValues();
}

void Tedlf::fillCameraGrid()
{
    const QString headings[GridColumns] = {QStringLiteral("Camera"), QStringLiteral("Name"), QStringLiteral("Edit Type")};
    for (int c = 0; c < GridColumns; ++c)
        cameragrid->item(0, c)->setText(headings[c]);
    if (settings() && !SettingsTerminateRequested()) {
        const CameraTable table = CameraTable::read([](const QString &key) { return settings()->GetString(key); });
        for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
            cameragrid->item(camera, 1)->setText(table.reelName(camera));
            cameragrid->item(camera, 2)->setText(table.editType(camera));
        }
    }
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera)
        cameragrid->item(camera, 0)->setText(QString::number(camera));
    fitCameraGrid();
}

void Tedlf::KxFormShow()
{
    Kcomment->setFocus();
    if (std::exchange(m_devicesStartedEarly, false))
        return;
    m_devices->StartDevices();
}

void Tedlf::startDevicesBeforeShow()
{
    m_devices->StartDevices();
    m_devicesStartedEarly = true;
}

void Tedlf::KxFormClose()
{
    // The grid stores its values when it loses the focus; a window closed while a cell has the
    // focus would lose the last edits.
    if (isWithin(QApplication::focusWidget(), cameragrid))
        cameragridExit();
    m_devices->StopDevices();
    m_gpo8Retry->stop();
    // The confirmed Exit, or nothing left unsaved, is a clean end: nothing to recover. A window
    // closed from its frame with rows not saved keeps them recoverable: the journal stays, also
    // when the rows are gone from the list but Undo could bring them back (Delete All, then the
    // close box): the next start offers them.
    if (m_journal) {
        if (m_exitConfirmed || !hasUnsavedRows())
            m_journal->finish();
        else
            m_journal->close();
    }
}

bool Tedlf::hasUnsavedRows() const
{
    return (!m_list->isEmpty() || m_list->canUndo()) && m_list->changeCount() != m_savedChange;
}

void Tedlf::StartJournal(const QString &path)
{
    if (m_journal)
        return;
    // The devices run already: rows they bring while the journal is read and while its rows are
    // offered back land in the list, and go after the recovered rows.
    qint64 resumeAt = -1;
    int recoveredRows = 0;
    int undone = 0; // changes of the journal taken back to find its rows
    CaptureJournal::Recovery found;
    {
        WorkProgress progress(this, QStringLiteral("Reading the capture journal"));
        found = CaptureJournal::read(path, progress.progress());
    }
    auto moveAside = [&path](const QString &told) {
        const QString aside = CaptureJournal::moveAside(path);
        if (aside.isEmpty()) {
            // Said on its own when nothing was told before it (the operator declined the rows).
            const QString lead = told.isEmpty() ? QStringLiteral("The capture journal of the previous run")
                                                : told + QStringLiteral(" It");
            DlgMessage(lead + QStringLiteral(" could not be moved aside, so this run keeps no capture journal: ") + path);
            return false;
        }
        if (!told.isEmpty())
            DlgMessage(told + QStringLiteral(" It was kept as ") + QDir::toNativeSeparators(aside));
        return true;
    };
    // The recovered rows, then the rows that arrived meanwhile, numbered on from them.
    auto adoptRecovered = [this, &found] {
        CaptureList &list = changeList();
        CaptureList &recovered = *found.list;
        for (int row = 0; row < list.count(); ++row) {
            CaptureList::RowTexts texts = list.rowTexts(row);
            texts.item = CaptureList::formatItemNumber(recovered.nextItemNumber());
            recovered.appendRow(texts);
        }
        list.adoptRows(recovered);
    };
    switch (found.found) {
    case CaptureJournal::Found::Nothing:
        break;
    case CaptureJournal::Found::Damaged:
        if (!moveAside(QStringLiteral("The capture journal of the previous run cannot be recovered. ") + found.problem))
            return;
        break;
    case CaptureJournal::Found::Rows: {
        if (!found.list)
            break;
        // A run that ended with every row deleted (Delete All, then the close box or a crash)
        // left them to Undo: they are offered back as the rows of any other run.
        for (; found.list->isEmpty() && found.list->canUndo(); ++undone)
            found.list->undo();
        const int n = found.list->count();
        if (n == 0)
            break;
        QString question = n == 1 ? QStringLiteral("Recover 1 capture row from the previous run?")
                                  : QStringLiteral("Recover %1 capture rows from the previous run?").arg(n);
        // A damaged journal gives the rows before the damage; what it could not read stays in it.
        const bool damaged = found.unreadRecords > 0;
        if (damaged)
            question += QLatin1Char(' ') + found.problem;
        if (DlgQuery(this, question, QStringLiteral("Recover Capture")) == TKxDlg::mrOk) {
            // The journal holds these rows already: it goes on from its last whole record.
            recoveredRows = n;
            adoptRecovered();
            // A damaged journal is not gone on with (that would cut off what it could not read):
            // it is kept aside, and a new one holds the rows.
            if (!damaged)
                resumeAt = found.wholeSize;
            else if (!moveAside(QStringLiteral("The records that could not be read stay in the damaged capture journal.")))
                return;
        } else if (!moveAside(QString())) {
            return;
        }
        break;
    }
    }

    auto *journal = new CaptureJournal(path, this);
    try {
        if (resumeAt < 0 || !journal->resume(*m_list, resumeAt, recoveredRows)) {
            journal->start(*m_list);
        } else if (undone > 0) {
            // The undos that gave the deleted rows back, as the list's own undos are journaled.
            // After the rows that arrived meanwhile (written by resume) is as good as before
            // them: an undo puts rows back in front of the rows appended since.
            for (int k = 0; k < undone; ++k)
                journal->undone();
            journal->changesDone();
        }
    } catch (const CorvaneError &error) {
        delete journal;
        DlgMessage(error.message() + QStringLiteral(". Capture rows are not journaled in this run."));
        return;
    }
    // Told once the change that failed is complete, never inside the device link's drain.
    connect(journal, &CaptureJournal::failed, this, [](const QString &message) { DlgMessage(message); },
            Qt::QueuedConnection);
    m_journal = journal;
}

void Tedlf::kexitClick()
{
    // Asked as well when the list is empty but Undo could bring back rows never saved (Delete
    // All): Exit ends the journal that keeps them.
    if ((!m_list->isEmpty() || hasUnsavedRows())
        && DlgQuery(this, QStringLiteral("Exit without saving EDL?"), QStringLiteral("Exit File")) == TKxDlg::mrCancel)
        return;
    m_exitConfirmed = true;
    m_devices->StopDevices();
    Timer1->start();
}

void Tedlf::Timer1Timer()
{
    Timer1->stop();
    m_devices->CloseInput();
    m_devices->CloseWindow();
    closeWithoutCloseMessage();
}

void Tedlf::setTimecode(const QString &text)
{
    m_timecode = text;
    if (!m_deviceMissing)
        tcpoz->setText(text);
}

void Tedlf::setDeviceHealth(bool missing, quint64 lost, quint64 late)
{
    if (missing != m_deviceMissing) {
        m_deviceMissing = missing;
        // The whole panel goes red, not only the label: it has to be seen from across the room.
        QPalette label = tcpoz->palette();
        label.setColor(QPalette::Window, missing ? QColor(255, 0, 0) : QColor(0, 255, 0));
        label.setColor(QPalette::WindowText, missing ? QColor(Qt::white) : QColor(Qt::black));
        tcpoz->setPalette(label);
        QPalette panel = m_timecodePanel->palette();
        if (missing)
            panel.setColor(QPalette::Window, QColor(255, 0, 0));
        else
            panel = palette();
        m_timecodePanel->setPalette(panel);
        m_timecodePanel->setAutoFillBackground(missing);
        QPalette count = lostevents->palette();
        count.setColor(QPalette::WindowText, missing ? QColor(Qt::white) : QColor(0xC0, 0, 0));
        lostevents->setPalette(count);
    }
    tcpoz->setText(missing ? NoDeviceText : m_timecode);
    QStringList counts;
    if (lost > 0)
        counts << (lost == 1 ? QStringLiteral("1 EVENT LOST") : QStringLiteral("%1 EVENTS LOST").arg(lost));
    if (late > 0)
        counts << QStringLiteral("MIDI SERVER LATE: %1").arg(late);
    lostevents->setText(counts.join(QStringLiteral("  ")));
    lostevents->setVisible(!counts.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// Capture list

void Tedlf::AddGpoEvent(const QString &reader, const QString &generator, const QString &camera)
{
    if (!m_arrivingRows) {
        m_arrivingRows.emplace(*m_list);
        m_announceTimer->start();
    }
    if (m_list->addGpoEvent(reader, generator, camera, GPO8->isChecked()) != CaptureList::GpoEvent::Gpo8Trigger) {
        ++m_deviceRows;
        return;
    }
    if (m_list->isEmpty())
        return;
    // Never here: the event comes from the device link's drain, and a make-and-save (its replace
    // question, a long make) run inside the drain would hold up every event behind it. It runs
    // once control is back in the event loop, where the drain goes on under its dialogs and bars;
    // not under an open dialog (it may be about to use the list, or save it) nor while another
    // make-and-save runs: the trigger then waits until they are over.
    m_gpo8Waiting = true;
    QMetaObject::invokeMethod(this, &Tedlf::runWaitingGpo8Trigger, Qt::QueuedConnection);
}

bool Tedlf::gpo8MustWait() const
{
    return m_makingAndSaving || WorkProgress::running() || QApplication::activeModalWidget();
}

void Tedlf::waitWithGpo8Trigger()
{
    m_gpo8Waiting = true;
    // Looked at again as soon as the dialog has closed, and every little while in case the wait
    // ends otherwise (work with a progress bar, a modal window that is no dialog).
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (dialog && dialog != m_gpo8Dialog) {
        m_gpo8Dialog = dialog;
        connect(dialog, &QDialog::finished, this, &Tedlf::runWaitingGpo8Trigger,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    }
    if (!m_gpo8Retry->isActive())
        m_gpo8Retry->start();
}

void Tedlf::runWaitingGpo8Trigger()
{
    if (!m_gpo8Waiting)
        return;
    if (gpo8MustWait()) {
        waitWithGpo8Trigger();
        return;
    }
    m_gpo8Waiting = false;
    m_gpo8Dialog = nullptr;
    m_gpo8Retry->stop();
    if (m_list->isEmpty())
        return;
    runGuarded([this] { makeAndSave(false); });
}

CaptureList &Tedlf::changeList()
{
    // Rows still on their way to the view go first: an observer of the list (the capture journal)
    // takes the changes of an open batch together, when the batch ends.
    m_arrivingRows.reset();
    m_announceTimer->stop();
    return *m_list;
}

void Tedlf::ClearCaptureList()
{
    // Rows that are all in a file leave nothing unsaved when they go (Make&Save, Delete All after
    // a save); rows that are not stay recoverable from the journal through Undo.
    const bool saved = m_list->changeCount() == m_savedChange;
    changeList().clear();
    if (saved)
        m_savedChange = m_list->changeCount();
}

void Tedlf::ClearClick()
{
    if (!m_list->isEmpty()
        && DlgQuery(this, QStringLiteral("Erase GPO Capture List?"), QStringLiteral("Clear List")) == TKxDlg::mrCancel)
        return;
    ClearCaptureList();
}

void Tedlf::kdeleteallClick()
{
    ClearCaptureList();
}

QList<int> Tedlf::selectedRows() const
{
    QList<int> rows;
    const QItemSelection selection = List1->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void Tedlf::DeleteClick()
{
    // Exactly the selected rows, also when the selection has gaps.
    const QList<int> rows = selectedRows();
    if (!rows.isEmpty())
        changeList().deleteRows(rows);
}

void Tedlf::CommentClick()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    // Device events go on while the dialog is open; a make-and-save may remove the row meanwhile.
    // The row is held by its identity, and the list does not scroll while the operator types.
    const QPersistentModelIndex row = m_list->index(rows.first(), CaptureList::CommentColumn);
    m_follower->hold();
    const auto release = qScopeGuard([this] { m_follower->release(); });
    QString comment;
    DlgStringEntry(this, dtDefault, commentPrompt(row.row()), QStringLiteral("Title Details"),
                   m_list->text(row.row(), CaptureList::CommentColumn).left(CommentLength), comment);
    if (row.isValid())
        changeList().setComment(row.row(), comment.left(CommentLength));
}

QString Tedlf::commentPrompt(int row) const
{
    // The row the comment is for, as the list shows it: item, reader timecode and the cameras on.
    QStringList cameras;
    quint32 mask = 0;
    if (CaptureList::tryParseCameraState(m_list->textView(row, CaptureList::CameraColumn), &mask)) {
        for (int camera = 1; camera <= 32; ++camera) {
            if (mask & (quint32(1) << (camera - 1)))
                cameras << QString::number(camera);
        }
    }
    const QString on = cameras.isEmpty() ? QStringLiteral("no camera")
                       : cameras.size() == 1 ? QStringLiteral("camera ") + cameras.first()
                                             : QStringLiteral("cameras ") + cameras.join(QStringLiteral(", "));
    return QStringLiteral("Update Comment\nItem %1 at %2, %3")
        .arg(m_list->text(row, CaptureList::ItemColumn), m_list->text(row, CaptureList::ReaderColumn), on);
}

void Tedlf::List1MouseDown(Qt::MouseButton button)
{
    if (button != Qt::LeftButton)
        CommentClick();
}

void Tedlf::List1ColumnClick(int column)
{
    changeList().sortByColumn(column);
}

void Tedlf::Undo1Click()
{
    changeList().undo();
}

void Tedlf::List1KeyUp()
{
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        Kcomment->setFocus();
    setWindowTitle(CaptureList::selectionCaption(rows));
}

void Tedlf::SetLastComment(const QString &text)
{
    changeList().setLastComment(text);
}

bool Tedlf::eventFilter(QObject *watched, QEvent *event)
{
    // Three kinds of widget report here, each for a job of its own.
    bool done = false;
    if (watched == List1->viewport()) {
        done = listViewportEvent(event);
    } else if (watched == List1) {
        listEvent(event);
    } else {
        const auto key = std::find(m_functionKeys.begin(), m_functionKeys.end(), watched);
        if (key != m_functionKeys.end())
            done = functionKeyEvent(*key, event);
    }
    return done || TKxForm::eventFilter(watched, event);
}

bool Tedlf::listViewportEvent(QEvent *event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    const auto button = mouse->button();
    if (button == Qt::LeftButton)
        return false;
    // Taken here: the row under the pointer becomes the one selected, and the comment is for
    // it. On empty space the selection stays as it is.
    m_follower->selectRowAt(mouse->position().toPoint());
    runGuarded([&] { List1MouseDown(button); });
    return true;
}

void Tedlf::listEvent(QEvent *event)
{
    if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent *>(event)->isAutoRepeat())
        runGuarded([this] { List1KeyUp(); });
}

bool Tedlf::functionKeyEvent(QPushButton *key, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    const auto button = static_cast<QMouseEvent *>(event)->button();
    runGuarded([&] { F2MouseDown(key, button); });
    // The left button goes on to the button, which shows itself pressed; the others have done
    // their work (the caption dialog) and end here.
    return button != Qt::LeftButton;
}

// ---------------------------------------------------------------------------------------------
// EDL

void Tedlf::filename1Click()
{
    QString details;
    DlgStringEntry(this, dtDefault, QStringLiteral("Enter File Name Details"), QStringLiteral("Title Details"),
                   settingString(FileName), details);
    setSettingString(FileName, details);
}

void Tedlf::MakeEDLClick()
{
    if (m_list->isEmpty())
        return;
    filename1Click();
    setWindowTitle(settingString(FileName));
    BuildEdl();
}

CameraTable Tedlf::cameraTable() const
{
    CameraTable table;
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        table.setReelName(camera, cameragrid->item(camera, 1)->text());
        table.setEditType(camera, cameragrid->item(camera, 2)->text());
    }
    return table;
}

EdlOptions Tedlf::edlOptions() const
{
    return {CMX36001->isChecked() ? EdlLayout::Cmx3600 : EdlLayout::Corvane, OneEDLPerCamera1->isChecked()};
}

QStringList Tedlf::edlLines() const
{
    return EdlText::linesOf(m_edlText);
}

void Tedlf::BuildEdl()
{
    m_edlText.clear();
    m_edlDocuments.clear();
    m_edlRows = 0;
    Memo1->clear();
    setWindowTitle(settingString(FileName));
    const QDateTime now = appClock().now();
    // The memo shows what was made, up to the row that failed if one did.
    const auto show = [this] {
        m_edlText = EdlMaker::shownText(m_edlDocuments);
        Memo1->setText(m_edlText);
    };
    WorkProgress progress(this, QStringLiteral("Making the EDL"));
    CaptureList &list = changeList();
    m_edlChange = NoChange;
    const quint64 deviceRows = m_deviceRows;
    try {
        EdlMaker::make(m_builder, list, cameraTable(), edlOptions(), windowTitle(), EdlBuilder::dateText(now),
                       EdlBuilder::timeText(now), m_edlDocuments, [&](qint64 done, qint64 total) {
                           m_edlRows = static_cast<int>(total);
                           progress.step(done, total);
                       });
    } catch (...) {
        show();
        throw;
    }
    show();
    // Made from the list as it stands, unless device rows came while it was made.
    if (deviceRows == m_deviceRows)
        m_edlChange = list.changeCount();
}

void Tedlf::SaveClick()
{
    filename1Click();
    SaveEdl(true);
}

void Tedlf::makesaveClick()
{
    if (m_list->isEmpty() || m_makingAndSaving)
        return;
    makeAndSave(true);
}

void Tedlf::makeAndSave(bool withDialog)
{
    const QScopedValueRollback busy(m_makingAndSaving, true);
    BuildEdl();
    const int made = m_edlRows;
    if (SaveEdl(withDialog))
        removeRowsMadeInto(made);
}

void Tedlf::removeRowsMadeInto(int rows)
{
    // Events captured while the save dialog or the replace question was open are not in the
    // file: they stay.
    const int made = std::min(rows, m_list->count());
    quint32 onAir = 0;
    if (made > 0)
        CaptureList::tryParseCameraState(m_list->textView(made - 1, CaptureList::CameraColumn), &onAir);
    if (onAir == 0) {
        if (rows >= m_list->count())
            ClearCaptureList();
        else if (rows > 0)
            changeList().removeRows(0, rows);
        return;
    }
    // The EDL ended with cameras on air: the list goes on with a row that puts them on again at
    // the EDL's last moment, so that the next EDL begins where this one ended. The made rows go
    // as one change (Undo puts them back in front and takes that row away).
    const bool allMadeAndSaved = made == m_list->count() && m_list->changeCount() == m_savedChange;
    const CaptureList::RowTexts last = m_list->rowTexts(made - 1);
    CaptureList restated;
    restated.appendRow(CaptureList::formatItemNumber(m_list->nextItemNumber()), last.camera, last.reader,
                       last.generator, QString());
    changeList().replaceRows(restated, made);
    // That row alone holds nothing that is not in the file.
    if (allMadeAndSaved)
        m_savedChange = m_list->changeCount();
}

void Tedlf::CorvaneLayout1Click()
{
    CorvaneLayout1->setChecked(true);
    setSettingString(EdlFormat, EdlMaker::layoutName(EdlLayout::Corvane));
}

void Tedlf::CMX36001Click()
{
    CMX36001->setChecked(true);
    setSettingString(EdlFormat, EdlMaker::layoutName(EdlLayout::Cmx3600));
}

void Tedlf::OneEDLPerCamera1Click()
{
    if (settings())
        settings()->SetBool(EdlPerCamera, OneEDLPerCamera1->isChecked());
}

void Tedlf::GPO8Click()
{
    GPO8->setChecked(!GPO8->isChecked());
    if (settings())
        settings()->SetBool(Gpo8, GPO8->isChecked());
}

QString Tedlf::chooseSaveFile(const QString &folder, const QString &proposed, const QString &suffix,
                              const QString &filter)
{
    QFileDialog *dialog = SaveDlg();
    dialog->setDefaultSuffix(suffix);
    dialog->setNameFilter(filter);
    dialog->setDirectory(startFolder(folder));
    dialog->selectFile(proposed);
    if (dialog->exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog->selectedFiles();
    // The dialog adds its default suffix only to a name without a dot ("Final 1.2_81123-1430_05"
    // has one): the extension is added here to every name that does not end with it.
    return chosen.isEmpty() ? QString() : DocumentFiles::withExtension(chosen.first(), QLatin1Char('.') + suffix);
}

bool Tedlf::SaveEdl(bool withDialog)
{
    const QString details = settingString(FileName);
    const QString edlPath = settingString(EdlPath);
    const QDateTime now = appClock().now();
    QString path;
    if (withDialog) {
        path = chooseSaveFile(edlPath, EdlFile::proposedName(details, now), QStringLiteral("edl"), EdlFilter);
        if (path.isEmpty())
            return false;
    } else {
        path = EdlFile::autoSavePath(details, edlPath, now);
    }
    setSettingString(EdlPath, DocumentFiles::folderOf(path));
    setWindowTitle(DocumentFiles::captionFor(path).left(CommentLength));
    // One file, or one per camera beside the name; every replacement is asked before any is
    // written.
    QList<QPair<QString, QByteArray>> files;
    // With nothing made the file is empty, as the memo is.
    if (m_edlDocuments.isEmpty() || (m_edlDocuments.size() == 1 && m_edlDocuments.first().camera == 0)) {
        files.append({path, m_edlText});
    } else {
        for (const EdlDocument &document : std::as_const(m_edlDocuments))
            files.append({EdlFile::perCameraPath(path, document.reel), document.text});
    }
    for (const auto &file : std::as_const(files)) {
        if (QFileInfo::exists(file.first)
            && DlgQuery(this, DocumentFiles::replaceQuestion(file.first), QStringLiteral("Replace")) == TKxDlg::mrCancel)
            return false;
    }
    WorkProgress progress(this, QStringLiteral("Saving the EDL"));
    for (const auto &file : std::as_const(files))
        DocumentFiles::writeWhole(file.first, file.second, progress.progress());
    m_savedChange = m_edlChange;
    return true;
}

void Tedlf::ExportTimeline1Click()
{
    if (m_list->isEmpty())
        return;
    // The timeline is made first: rows it cannot take are told before a file is asked for.
    const int rate = settings() ? settings()->GetInteger(EdlFps) : 25;
    const Timeline timeline = Timeline::fromCapture(*m_list, cameraTable(), settingString(FileName), rate);

    QFileDialog *dialog = SaveDlg();
    dialog->setDefaultSuffix(QString());
    dialog->setNameFilters({OtioFilter, Fcp7XmlFilter});
    dialog->selectNameFilter(OtioFilter);
    dialog->setDirectory(startFolder(settingString(TimelinePath)));
    dialog->selectFile(EdlFile::proposedName(settingString(FileName), appClock().now()));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    // The name's extension says the format; without one, the filter chosen does.
    QString path = dialog->selectedFiles().first();
    const bool xml = path.endsWith(Fcp7XmlWriter::Extension, Qt::CaseInsensitive)
                     || (!path.endsWith(OtioWriter::Extension, Qt::CaseInsensitive)
                         && dialog->selectedNameFilter() == Fcp7XmlFilter);
    path = DocumentFiles::withExtension(path, xml ? Fcp7XmlWriter::Extension : OtioWriter::Extension);

    setSettingString(TimelinePath, DocumentFiles::folderOf(path));
    if (QFileInfo::exists(path)
        && DlgQuery(this, DocumentFiles::replaceQuestion(path), QStringLiteral("Replace")) == TKxDlg::mrCancel)
        return;
    // A large timeline takes a while to write out: made aside, so that the device goes on.
    QByteArray bytes;
    {
        WorkProgress progress(this, QStringLiteral("Exporting the timeline"));
        bytes = progress.runAside([&timeline, xml] { return xml ? Fcp7XmlWriter::write(timeline) : OtioWriter::write(timeline); });
    }
    DocumentFiles::writeWhole(path, bytes);
}

// ---------------------------------------------------------------------------------------------
// Capture file

QFileDialog *Tedlf::SaveDlg()
{
    if (!m_saveDlg) {
        m_saveDlg = new QFileDialog(this);
        m_saveDlg->setObjectName(QStringLiteral("SaveDlg"));
        m_saveDlg->setAcceptMode(QFileDialog::AcceptSave);
        m_saveDlg->setFileMode(QFileDialog::AnyFile);
        // The window asks its own replace question after the dialog.
        m_saveDlg->setOption(QFileDialog::DontConfirmOverwrite, true);
        prepareFileDialog(m_saveDlg);
    }
    return m_saveDlg;
}

QFileDialog *Tedlf::OpenDlg()
{
    if (!m_openDlg) {
        m_openDlg = new QFileDialog(this);
        m_openDlg->setObjectName(QStringLiteral("OpenDlg"));
        m_openDlg->setAcceptMode(QFileDialog::AcceptOpen);
        m_openDlg->setFileMode(QFileDialog::ExistingFile);
        prepareFileDialog(m_openDlg);
    }
    return m_openDlg;
}

void Tedlf::savegpoClick()
{
    const QString path = chooseSaveFile(settingString(GpoPath),
                                        CaptureFile::proposedName(windowTitle(), appClock().now().date()),
                                        QStringLiteral("gpo"), GpoFilter);
    if (path.isEmpty())
        return;
    setSettingString(GpoPath, DocumentFiles::folderOf(path));
    setWindowTitle(DocumentFiles::captionFor(path).left(CommentLength));
    if (QFileInfo::exists(path)
        && DlgQuery(this, DocumentFiles::replaceQuestion(path), QStringLiteral("Replace")) == TKxDlg::mrCancel)
        return;
    CaptureFile::SaveGpoFile(*m_list, path);
    m_savedChange = m_list->changeCount();
}

void Tedlf::LoadGPO1Click()
{
    QFileDialog *dialog = OpenDlg();
    dialog->setDefaultSuffix(QStringLiteral("gpo"));
    dialog->setNameFilter(GpoFilter);
    dialog->setDirectory(AppPaths::userFilesFolder());
    dialog->selectFile(windowTitle());
    if (dialog->exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog->selectedFiles();
    if (!chosen.isEmpty())
        LoadGpoFile(chosen.first());
}

void Tedlf::loadtest1Click()
{
    LoadGpoFile(CaptureFile::sampleFilePath());
}

void Tedlf::About1Click()
{
    DlgMessageEx(this, dtDefault,
                 QStringLiteral("Corvane %1\nLive edit logger for multi-camera productions.").arg(QStringLiteral(CORVANE_VERSION)),
                 QStringLiteral("About Corvane"));
}

void Tedlf::LoadGpoFile(const QString &path)
{
    if (!QFileInfo::exists(path))
        return;
    setWindowTitle(DocumentFiles::captionFor(path));
    // Read into a list of its own: the device goes on delivering while the bar shows, and the rows
    // it brings meanwhile are appended to the list as it is. The file's rows then replace the rows
    // of before, and the rows that arrived follow them: no switch of the show is lost to a load.
    const int before = m_list->count();
    CaptureList loaded;
    {
        WorkProgress progress(this, QStringLiteral("Loading the capture file"));
        CaptureFile::LoadGpoFile(loaded, path, progress.progress());
    }
    changeList().replaceRows(loaded, before);
}

// ---------------------------------------------------------------------------------------------
// Camera table

void Tedlf::cameragridExit()
{
    if (!settings())
        return;
    // All 32 values, changed or not, in one write of the settings file.
    QList<QPair<QString, QString>> values;
    cameraTable().write([&values](const QString &key, const QString &value) { values.append({key, value}); });
    settings()->settingsStore().writeStrings(Current, values);
}

void Tedlf::cameragridTopLeftChanged()
{
    // The grid never scrolls sideways (an edited cell's text is no reason to move the columns);
    // it scrolls down only to reach cameras the window is too low to show.
    cameragrid->horizontalScrollBar()->setValue(0);
}

// ---------------------------------------------------------------------------------------------
// Function keys

void Tedlf::F2MouseDown(QPushButton *key, Qt::MouseButton button)
{
    if (button == Qt::LeftButton) {
        functionKeyComment(int(std::find(m_functionKeys.begin(), m_functionKeys.end(), key) - m_functionKeys.begin()) + 2);
        return;
    }
    const QString name = key->objectName();
    QString caption;
    DlgStringEntry(this, dtDefault, name + QStringLiteral(" Comment"), QStringLiteral("Function Key Comment"),
                   key->text(), caption);
    key->setText(caption);
    layoutFunctionKeys();
    // "k" + the button's name is the "kf<n>" key the captions are read from at start-up.
    setSettingString(QStringLiteral("k") + name, caption);
}

void Tedlf::functionKeyComment(int number)
{
    // Rows still on their way to the view come first: the marked row is then the one on screen.
    CaptureList &list = changeList();
    const int row = m_follower->markedRow();
    if (row >= 0 && row < list.count())
        list.setComment(row, m_functionKeys[static_cast<size_t>(number - 2)]->text());
}

void Tedlf::SCF2Click()
{
    functionKeyComment(2);
}

void Tedlf::scf3Click()
{
    functionKeyComment(3);
}

void Tedlf::scf4Click()
{
    functionKeyComment(4);
}

void Tedlf::SCF5click()
{
    functionKeyComment(5);
}

void Tedlf::F61Click()
{
    functionKeyComment(6);
}

void Tedlf::F71Click()
{
    functionKeyComment(7);
}

void Tedlf::F81Click()
{
    functionKeyComment(8);
}

void Tedlf::F91Click()
{
    functionKeyComment(9);
}

// ---------------------------------------------------------------------------------------------
// Help, devices, desktops

void Tedlf::OpenDocument(const QString &fileName)
{
    const QString path = AppPaths::shippedFile(fileName);
    const QString fullName = QDir::toNativeSeparators(path);
    if (!QFileInfo(path).isFile()) {
        DlgMessage(fullName + QStringLiteral("  Not Found"));
        return;
    }
    // With nothing to open it, the operator is told where the file is, to open it some other way
    // (another computer, a program installed later). What a program that did start then does
    // with the file is its own affair.
    if (!DocumentViewer::available(path) || !QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        DlgMessage(fullName + QStringLiteral("\nNo program on this computer opens this file. Install one (for the "
                                             "manuals, a PDF viewer) or open the file from that folder yourself."));
}

void Tedlf::CorvaneManual1Click()
{
    OpenDocument(EnglishManual);
}

void Tedlf::French1Click()
{
    OpenDocument(FrenchManual);
}

void Tedlf::Manual1Click()
{
    OpenDocument(InterfaceManual);
}

void Tedlf::OrvexNameDriver1Click()
{
    OpenDocument(DriverManual);
}

void Tedlf::OnlineSupport1Click()
{
    const QString text = QStringLiteral("Online Support is only available by prior agreement\nTelephone ")
                         + SupportTelephone;
    if (DlgQuery(this, text, QStringLiteral("OnLine Support")) == TKxDlg::mrCancel)
        return;
    OpenDocument(SupportProgram);
}

void Tedlf::kusbClick()
{
    m_devices->ShowHide();
}

void Tedlf::desktop1Click()
{
    if (settings())
        settings()->ShowDesktopSetup();
}
