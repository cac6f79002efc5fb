#include "DeviceWindow.h"

#include "ErrorReport.h"
#include "Errors.h"
#include "IniStore.h"
#include "MidiDevices.h"
#include "MidiIn.h"
#include "MidiOut.h"
#include "MidiService.h"
#include "ScreenPlacement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QFont windowFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QFont boldPixelFont(const QString &family, int pixels)
{
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

void setLime(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(0x00, 0xFF, 0x00));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The timecode label while a device is gone: white on red.
void setAlarm(QLabel *label, bool alarm)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, alarm ? QColor(0xFF, 0x00, 0x00) : QColor(0x00, 0xFF, 0x00));
    palette.setColor(QPalette::WindowText, alarm ? QColor(Qt::white) : QColor(Qt::black));
    label->setPalette(palette);
}

QPlainTextEdit *monitorMemo(QWidget *parent, const char *name, QSize designed)
{
    auto *memo = new QPlainTextEdit(parent);
    memo->setObjectName(QLatin1String(name));
    // Monitors keep their designed size; they scroll.
    memo->setFixedSize(designed);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A monitor written for hours keeps no undo history.
    memo->setUndoRedoEnabled(false);
    return memo;
}

QLabel *label(QWidget *parent, const char *name, const QString &caption)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

// The widest text a label shows among the given ones, in its font, with its frame.
int widestText(const QLabel *label, const QStringList &texts)
{
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString &text : texts)
        widest = std::max(widest, metrics.horizontalAdvance(text));
    return widest + 2 * (label->frameWidth() + label->margin()) + 2;
}

// The revision lines at their longest: the long form, with the widest hexadecimal digit of the
// font in every place.
QStringList longestRevisionLines(const QFont &font)
{
    const QFontMetrics metrics(font);
    QChar widest = QLatin1Char('0');
    for (const QChar digit : QStringLiteral("0123456789ABCDEF")) {
        if (metrics.horizontalAdvance(digit) > metrics.horizontalAdvance(widest))
            widest = digit;
    }
    const QString pair = QString(2, widest) + QLatin1Char('.') + QString(2, widest);
    return {QStringLiteral("Core %1 Build %1 HW %1").arg(pair),
            QStringLiteral("Main %1 Build %1 Vexa-16").arg(pair)};
}

} // namespace

Tmidiiof::Tmidiiof(QWidget *parent) : Tmidiiof(midiService(), parent) {}

Tmidiiof::Tmidiiof(MidiService &service, QWidget *parent)
    : QWidget(parent, Qt::Window), m_service(service), m_link(*this)
{
    setObjectName(QStringLiteral("midiiof"));
    setWindowTitle(QStringLiteral("midiiof"));
    // The capture window's closing ends the program, whether or not this window is shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    MidiInput1 = new TMidiInput(m_service, this);
    MidiInput1->setObjectName(QStringLiteral("MidiInput1"));
    MidiOutput1 = new TMidiOutput(m_service, this);
    MidiOutput1->setObjectName(QStringLiteral("MidiOutput1"));
    m_watch = new DeviceWatch(m_service, *MidiInput1, *MidiOutput1, this);

    buildLayout();
    connectHandlers();
    FormCreate();
}

Tmidiiof::~Tmidiiof()
{
    m_watch->setHandlers({});
    m_sink = nullptr;
    // The ports go before the link they report to.
    MidiInput1->setOnMidiInput({});
    MidiInput1->setOnOverflow({});
    try {
        MidiOutput1->Close();
        MidiInput1->Close();
    } catch (...) {
        // A destructor cannot report; the ports have released everything all the same.
    }
    m_link.setOutput(nullptr);
    m_output.reset(); // the send lock
}

void Tmidiiof::buildLayout()
{
    setFont(windowFont());

    // The controls keep their designed arrangement and at least their designed sizes; layouts let
    // every box, label and monitor grow to the room its text takes in the font in use.
    tcpoz = new QLabel(QStringLiteral("00:00:00:00"), this);
    tcpoz->setObjectName(QStringLiteral("tcpoz"));
    tcpoz->setFont(boldPixelFont(QStringLiteral("Tahoma"), 21));
    tcpoz->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setLime(tcpoz);
    // Room for the widest timecode the interface can send.
    tcpoz->setMinimumSize(std::max(128, widestText(tcpoz, {QStringLiteral("00:00:00:00"), QStringLiteral("23:58:58:28")})),
                          std::max(25, tcpoz->fontMetrics().height()));

    Button2 = new QPushButton(QStringLiteral("LTC"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setMinimumSize(41, 20);

    auto deviceBox = [this](const char *name, const QString &title, QComboBox *&list, const char *listName,
                            QCheckBox *&open, const char *openName) {
        auto *box = new QGroupBox(title, this);
        box->setObjectName(QLatin1String(name));
        box->setMinimumSize(180, 44);
        list = new QComboBox(box);
        list->setObjectName(QLatin1String(listName));
        list->setMinimumSize(120, 21);
        list->setPlaceholderText(title);
        open = new QCheckBox(QStringLiteral("Open"), box);
        open->setObjectName(QLatin1String(openName));
        open->setMinimumSize(44, 17);
        auto *row = new QHBoxLayout(box);
        row->setContentsMargins(8, 2, 6, 4);
        row->setSpacing(4);
        row->addWidget(list, 1);
        row->addWidget(open);
        return box;
    };
    GroupBox3 = deviceBox("GroupBox3", QStringLiteral("Midi Output"), MidiOutputselect, "MidiOutputselect", OpenOut,
                          "OpenOut");
    GroupBox4 = deviceBox("GroupBox4", QStringLiteral("Midi Input"), MidiInputSelect, "MidiInputSelect", OpenIn,
                          "OpenIn");

    Revision = new QGroupBox(QStringLiteral("Revision"), this);
    Revision->setObjectName(QStringLiteral("Revision"));
    Revision->setMinimumSize(185, 41);
    setLime(Revision);
    revtext = label(Revision, "revtext", QStringLiteral("revtext"));
    revtext2 = label(Revision, "revtext2", QStringLiteral("revtext"));
    const QStringList revisionLines = longestRevisionLines(revtext->font());
    for (QLabel *line : {revtext, revtext2})
        line->setMinimumWidth(widestText(line, revisionLines));
    auto *lines = new QVBoxLayout(Revision);
    lines->setContentsMargins(10, 0, 4, 2);
    lines->setSpacing(0);
    lines->addWidget(revtext);
    lines->addWidget(revtext2);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setMinimumSize(185, 25);

    vmout = monitorMemo(this, "vmout", QSize(441, 73));
    vmin = monitorMemo(this, "vmin", QSize(441, 65));
    m8data = monitorMemo(this, "m8data", QSize(391, 51));
    m_vmout.memo = vmout;
    m_vmin.memo = vmin;
    m_m8data.memo = m8data;

    Label1 = label(this, "Label1", QStringLiteral("MTC"));
    mtccount = label(this, "mtccount", QStringLiteral("00"));
    mmccount = label(this, "mmccount", QStringLiteral("00"));
    for (QLabel *counter : {mtccount, mmccount}) {
        counter->setFont(boldPixelFont(font().family(), 13));
        // The counters show 0 to 99.
        counter->setMinimumWidth(std::max(24, widestText(counter, {QStringLiteral("88"), QStringLiteral("99"),
                                                                   QStringLiteral("00")})));
    }

    auto *left = new QVBoxLayout;
    left->setSpacing(0);
    auto *top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(tcpoz);
    top->addWidget(Button2, 0, Qt::AlignTop);
    top->addStretch(1);
    left->addLayout(top);
    left->addSpacing(7);
    left->addWidget(GroupBox3);
    left->addWidget(GroupBox4);
    left->addWidget(Revision);
    left->addSpacing(5);
    left->addWidget(Button1);
    left->addStretch(1);

    auto *counters = new QVBoxLayout;
    counters->setContentsMargins(6, 2, 0, 0);
    counters->setSpacing(2);
    counters->addWidget(Label1);
    counters->addWidget(mtccount);
    counters->addWidget(mmccount);
    counters->addStretch(1);
    auto *bottom = new QHBoxLayout;
    bottom->setContentsMargins(2, 4, 0, 0);
    bottom->setSpacing(0);
    bottom->addWidget(m8data, 1);
    bottom->addLayout(counters);

    auto *right = new QVBoxLayout;
    right->setSpacing(0);
    right->addWidget(vmout);
    right->addWidget(vmin);
    right->addLayout(bottom);

    // Below the controls: which MIDI system the devices come from, or that there is none and
    // what to start. Two lines of the window's font, as wide as the controls above.
    midiSystem = new QLabel(this);
    midiSystem->setObjectName(QStringLiteral("midiSystem"));
    midiSystem->setWordWrap(true);
    midiSystem->setFixedHeight(2 * midiSystem->fontMetrics().lineSpacing() + 4);
    midiSystem->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    // Below that, while a device is gone, events were lost or the MIDI server was late: what
    // happened.
    devicestate = new QLabel(this);
    devicestate->setObjectName(QStringLiteral("devicestate"));
    {
        QFont bold = font();
        bold.setBold(true);
        devicestate->setFont(bold);
        QPalette red = devicestate->palette();
        red.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
        devicestate->setPalette(red);
    }
    // One line per fault, so that both devices gone with events lost are not cut short by a
    // window that never widens for them.
    devicestate->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    devicestate->hide();

    auto *controls = new QHBoxLayout;
    controls->setSpacing(0);
    controls->addLayout(left);
    controls->addLayout(right, 1);
    auto *window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(2);
    window->addLayout(controls);
    auto *below = new QHBoxLayout;
    below->setContentsMargins(2, 0, 2, 1);
    below->addWidget(midiSystem);
    window->addLayout(below);
    auto *state = new QHBoxLayout;
    state->setContentsMargins(4, 0, 4, 1);
    state->addWidget(devicestate);
    window->addLayout(state);
    // The window sizes itself to its contents, from the start.
    window->setSizeConstraint(QLayout::SetFixedSize);
    window->activate();

    MidiInput1->setSysexBufferSize(InputSysexBufferSize);
    MidiInput1->setSysexBufferCount(InputSysexBufferCount);
    MidiInput1->setCapacity(InputRingCapacity);
}

void Tmidiiof::connectHandlers()
{
    // Setting a box from the program acts like the operator checking it; setting it to the state
    // it already has does nothing.
    connect(OpenOut, &QCheckBox::toggled, this, guarded([this](bool) { OpenOutClick(); }));
    connect(OpenIn, &QCheckBox::toggled, this, guarded([this](bool) { OpenInClick(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this](bool) { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, guarded([this](bool) { Button2Click(); }));
    MidiOutputselect->installEventFilter(this);
    MidiInputSelect->installEventFilter(this);
    Revision->installEventFilter(this);

    MidiInput1->setOnMidiInput([this](QObject *sender) { runGuarded([&] { MidiInput1MidiInput(sender); }); });
    MidiInput1->setOnOverflow([this](QObject *) { ++m_overflows; });

    m_watch->setHandlers({
        [this](DeviceWatch::Port port) { runGuarded([&] { deviceLost(port); }); },
        [this](DeviceWatch::Port port, int) { runGuarded([&] { deviceBack(port); }); },
        [this](std::uint64_t) { runGuarded([&] { showDeviceHealth(); }); },
        [this](std::uint64_t) { runGuarded([&] { showDeviceHealth(); }); },
    });
}

void Tmidiiof::setCaptureSink(CaptureSink *sink)
{
    m_sink = sink;
    m_link.setCaptureSink(sink);
}

quint64 Tmidiiof::lostEventCount() const
{
    return MidiInput1->LostCount();
}

quint64 Tmidiiof::serverLateCount() const
{
    return MidiInput1->LateCount();
}

void Tmidiiof::FormCreate()
{
    m_output = std::make_unique<PortSysexOutput>(*MidiOutput1, [this] { return OpenOut->isChecked(); });
    m_link.setOutput(m_output.get());
}

bool Tmidiiof::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && (watched == MidiOutputselect || watched == MidiInputSelect)) {
        // Entering the list, not the window coming back to the front or a choice from the
        // list's own popup.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            runGuarded([&] {
                if (watched == MidiOutputselect)
                    MidiOutputselectEnter();
                else
                    MidiInputSelectEnter();
                showMidiSystem();
            });
        }
    } else if (watched == Revision && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && Revision->rect().contains(mouse->position().toPoint()))
            runGuarded([this] { RevisionClick(); });
    }
    return QWidget::eventFilter(watched, event);
}

void Tmidiiof::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown by the program, not restored from a minimised state by the window system.
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void Tmidiiof::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    // Once the window system has framed the window, all of it on the screen it opened on.
    if (!m_framed && isVisible() && ScreenPlacement::knownFrame(this)) {
        m_framed = true;
        const ScreenLayout screens = ScreenPlacement::screens();
        if (!screens.isEmpty()) {
            const QRect outer = frameGeometry();
            const QRect placed = ScreenPlacement::fitted(outer, screens.areas.at(screens.screenFor(outer)));
            if (placed.topLeft() != outer.topLeft())
                move(placed.topLeft());
        }
    }
}

void Tmidiiof::FormShow()
{
    StartDevices();
}

QString Tmidiiof::iniPath() const
{
    return m_iniPath.isEmpty() ? MidiIoIni::path() : m_iniPath;
}

// ---------------------------------------------------------------------------------------------
// Devices

void Tmidiiof::showMidiSystem()
{
    const MidiSystemStatus status = m_service.midiSystemStatus();
    midiSystem->setText(status.text);
    QPalette palette = midiSystem->palette();
    palette.setColor(QPalette::WindowText, status.available ? palette.color(QPalette::Text) : QColor(0xC0, 0x00, 0x00));
    midiSystem->setPalette(palette);
    reportMidiSystem(status);
}

void Tmidiiof::StartDevices()
{
    MidiOutputselectEnter();
    MidiInputSelectEnter();
    showMidiSystem();
    m_iniPath = MidiIoIni::path();
    const IniFile ini(m_iniPath);
    const QString section = QLatin1String(MidiIoIni::Section);
    const QString savedIn = ini.readString(section, QLatin1String(MidiIoIni::InputKey), QString());
    const QString savedOut = ini.readString(section, QLatin1String(MidiIoIni::OutputKey), QString());

    auto reselect = [](QComboBox *list, QCheckBox *box, const QString &saved) {
        if (list->currentIndex() >= 0)
            return;
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        const int index = FindDeviceName(items, saved, DeviceMatch::IgnoreCase);
        if (index < 0)
            return; // not plugged in, or renamed: left closed
        list->setCurrentIndex(index);
        box->setChecked(true); // opens it, unless it is open already
    };
    // A port that is open keeps showing its own device in the refilled list.
    using Port = DeviceWatch::Port;
    m_revisionAsked = false;
    reselect(MidiInputSelect, OpenIn, OpenIn->isChecked() ? m_watch->name(Port::Input) : savedIn);
    reselect(MidiOutputselect, OpenOut, OpenOut->isChecked() ? m_watch->name(Port::Output) : savedOut);

    // Asked once: by the opening that made both ports open, else here.
    if (!m_revisionAsked && OpenIn->isChecked() && OpenOut->isChecked())
        m_link.SendRevisionQuery(OrvexMessage::RevisionQuery);
}

void Tmidiiof::askRevisionWhenBothOpen()
{
    // An opening by the operator, by the start-up or by a device that came back: once both
    // ports are open the interface is asked who it is, once per opening.
    if (OpenIn->isChecked() && OpenOut->isChecked()) {
        m_link.SendRevisionQuery(OrvexMessage::RevisionQuery);
        m_revisionAsked = true;
    }
}

void Tmidiiof::StopDevices()
{
    // The program is ending: devices that go away now are neither reported nor opened again.
    m_watch->closed(DeviceWatch::Port::Output);
    m_watch->closed(DeviceWatch::Port::Input);
    MidiOutput1->Close();
    MidiInput1->Stop();
}

void Tmidiiof::MidiOutputselectEnter()
{
    MidiOutputselect->clear();
    MidiOutputselect->addItems(MidiOutputNames(m_service));
    // Entering the list leaves no device chosen: the operator picks one again.
    MidiOutputselect->setCurrentIndex(-1);
}

void Tmidiiof::MidiInputSelectEnter()
{
    MidiInputSelect->clear();
    MidiInputSelect->addItems(MidiInputNames(m_service));
    MidiInputSelect->setCurrentIndex(-1);
}

void Tmidiiof::release(QCheckBox *box, QComboBox *list)
{
    const QSignalBlocker blocker(box);
    box->setChecked(false);
    list->setEnabled(true);
}

void Tmidiiof::rememberDevice(const char *key, const QString &name)
{
    IniFile(iniPath()).writeString(QLatin1String(MidiIoIni::Section), QLatin1String(key), name);
}

int Tmidiiof::deviceNumberNow(const QComboBox *list, const QStringList &namesNow)
{
    // Devices plugged in or out since the list was filled move the numbers of the others: the
    // device chosen is the one of that name, at its place if it is still there, else the first
    // of that name. -1 when it is gone.
    const int index = list->currentIndex();
    const QString name = list->currentText();
    if (index >= 0 && index < namesNow.size() && namesNow.at(index) == name)
        return index;
    return static_cast<int>(namesNow.indexOf(name));
}

void Tmidiiof::OpenOutClick()
{
    using Port = DeviceWatch::Port;
    if (!OpenOut->isChecked()) {
        // Closed whatever the list shows: the list may have been refilled under the open port.
        MidiOutputselect->setEnabled(true);
        m_watch->closed(Port::Output);
        MidiOutput1->Close();
        showDeviceHealth();
        return;
    }
    const int index = MidiOutputselect->currentIndex();
    if (index < 0) {
        // No device chosen: nothing opens, and a device that went is no longer waited for.
        release(OpenOut, MidiOutputselect);
        m_watch->closed(Port::Output);
        showDeviceHealth();
        return;
    }
    // The device cannot be changed while it is open.
    MidiOutputselect->setEnabled(false);
    MidiOutput1->Close();
    try {
        const int device = deviceNumberNow(MidiOutputselect, MidiOutputNames(m_service));
        if (device < 0)
            throw EmidioutputError(QStringLiteral("Midi output device not Found"));
        MidiOutput1->setDeviceID(device);
    } catch (const CorvaneError &) {
        release(OpenOut, MidiOutputselect);
        return;
    }
    // A device that would not open leaves the box unchecked, as one that cannot be selected
    // does: a checked box always means an open port.
    if (!MidiOutput1->Open()) {
        release(OpenOut, MidiOutputselect);
        return;
    }
    m_watch->opened(Port::Output, MidiOutputselect->currentText());
    showDeviceHealth();
    rememberDevice(MidiIoIni::OutputKey, MidiOutputselect->currentText());
    askRevisionWhenBothOpen();
}

void Tmidiiof::OpenInClick()
{
    using Port = DeviceWatch::Port;
    if (!OpenIn->isChecked()) {
        // Closed whatever the list shows: the list may have been refilled under the open port
        // (its device gone from it), and the port must not stay open behind an unticked box.
        MidiInputSelect->setEnabled(true);
        m_watch->closed(Port::Input);
        try {
            MidiInput1->Stop();
        } catch (...) {
            MidiInput1->Close();
            throw;
        }
        MidiInput1->Close();
        showDeviceHealth();
        return;
    }
    const int index = MidiInputSelect->currentIndex();
    if (index < 0) {
        // No device chosen: nothing opens, and a device that went is no longer waited for.
        release(OpenIn, MidiInputSelect);
        m_watch->closed(Port::Input);
        showDeviceHealth();
        return;
    }
    MidiInputSelect->setEnabled(false);
    if (MidiInput1->State() == psOpen) {
        // Still open on a device the list no longer shows: closed before another is chosen.
        MidiInput1->Stop();
        MidiInput1->Close();
    }
    try {
        const int device = deviceNumberNow(MidiInputSelect, MidiInputNames(m_service));
        if (device < 0 || device > 0xFFFF)
            throw EMidiInputError(QStringLiteral("Midi input device not Found"));
        MidiInput1->setDeviceID(static_cast<std::uint16_t>(device));
    } catch (const CorvaneError &) {
        release(OpenIn, MidiInputSelect);
        return;
    }
    MidiInput1->Open();
    if (MidiInput1->State() != psOpen) {
        release(OpenIn, MidiInputSelect);
        return;
    }
    MidiInput1->Start();
    m_watch->opened(Port::Input, MidiInputSelect->currentText());
    showDeviceHealth();
    rememberDevice(MidiIoIni::InputKey, MidiInputSelect->currentText());
    askRevisionWhenBothOpen();
}

void Tmidiiof::deviceLost(DeviceWatch::Port port)
{
    // A device that has gone may fail to stop or close; its port releases everything all the
    // same, and the operator is told by the alarm, not by a message per call.
    if (port == DeviceWatch::Port::Input) {
        try {
            MidiInput1->Stop();
        } catch (const CorvaneError &) {
        }
        try {
            MidiInput1->Close();
        } catch (const CorvaneError &) {
        }
        release(OpenIn, MidiInputSelect);
    } else {
        try {
            MidiOutput1->Close();
        } catch (const CorvaneError &) {
        }
        release(OpenOut, MidiOutputselect);
    }
    showDeviceHealth();
}

void Tmidiiof::deviceBack(DeviceWatch::Port port)
{
    const bool input = port == DeviceWatch::Port::Input;
    QComboBox *list = input ? MidiInputSelect : MidiOutputselect;
    QCheckBox *box = input ? OpenIn : OpenOut;
    if (input)
        MidiInputSelectEnter();
    else
        MidiOutputselectEnter();
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    const int index = FindDeviceName(items, m_watch->name(port), DeviceMatch::ExactThenIgnoreCase);
    if (index < 0)
        return;
    list->setCurrentIndex(index);
    // Opens it, as the operator's tick does; with both ports open again the interface (which may
    // have been restarted with its server) is asked again who it is.
    box->setChecked(true);
}

void Tmidiiof::showDeviceHealth()
{
    using Port = DeviceWatch::Port;
    const bool alarm = m_watch->anyMissing();
    const quint64 lost = lostEventCount();
    const quint64 late = serverLateCount();
    if (alarm != m_alarm) {
        m_alarm = alarm;
        setAlarm(tcpoz, alarm);
    }
    tcpoz->setText(alarm ? NoDeviceText : m_timecode);

    QStringList parts;
    for (const Port port : {Port::Input, Port::Output}) {
        if (m_watch->missing(port))
            parts << QStringLiteral("MIDI %1 %2 has gone: waiting for it.")
                         .arg(port == Port::Input ? QStringLiteral("input") : QStringLiteral("output"), m_watch->name(port));
    }
    if (lost > 0)
        parts << (lost == 1 ? QStringLiteral("1 event lost.") : QStringLiteral("%1 events lost.").arg(lost));
    if (late > 0)
        parts << ServerLateText.arg(late);
    devicestate->setText(parts.join(QLatin1Char('\n')));
    devicestate->setVisible(!parts.isEmpty());
    // The window takes its new height now, shown or not.
    if (layout())
        layout()->activate();
    if (m_sink)
        m_sink->ShowDeviceHealth(alarm, lost, late);
}

void Tmidiiof::Button1Click()
{
    hide();
}

void Tmidiiof::RevisionClick()
{
    m_link.SendRevisionQuery(OrvexMessage::RevisionQuery);
}

void Tmidiiof::Button2Click()
{
    m_link.SendLtcMessages();
}

void Tmidiiof::MidiInput1MidiInput(QObject *Sender)
{
    auto *port = qobject_cast<TMidiInput *>(Sender);
    if (!port)
        port = MidiInput1;
    // The device link owns the drain; the memos take its lines when it ends (drainEnded).
    m_link.MidiInput1MidiInput(*port);
}

// ---------------------------------------------------------------------------------------------
// Monitors

void Tmidiiof::append(Monitor &monitor, const QString &line)
{
    if (m_link.draining()) {
        monitor.pending.append(line);
        // A burst larger than the memo keeps only what the memo would keep.
        if (monitor.pending.size() > 2 * MonitorLineLimit)
            monitor.pending.erase(monitor.pending.begin(), monitor.pending.end() - MonitorLineLimit);
        return;
    }
    monitor.pending.append(line);
    flush(monitor);
}

void Tmidiiof::flush(Monitor &monitor)
{
    if (monitor.pending.isEmpty())
        return;
    for (const QString &line : std::as_const(monitor.pending))
        monitor.newest.push_back(line);
    while (int(monitor.newest.size()) > MonitorLineLimit)
        monitor.newest.pop_front();
    QPlainTextEdit *memo = monitor.memo;
    if (memo->blockCount() + monitor.pending.size() <= 2 * MonitorLineLimit) {
        memo->appendPlainText(monitor.pending.join(QLatin1Char('\n')));
    } else {
        // Trimmed in one go once it holds twice its lines: removing the oldest lines from the
        // memo as new ones come costs a burst of events milliseconds each time.
        QStringList lines;
        lines.reserve(qsizetype(monitor.newest.size()));
        for (const QString &line : monitor.newest)
            lines.append(line);
        memo->clear();
        memo->appendPlainText(lines.join(QLatin1Char('\n')));
    }
    monitor.pending.clear();
}

void Tmidiiof::drainEnded()
{
    flush(m_vmin);
    flush(m_m8data);
    flush(m_vmout);
}

void Tmidiiof::appendVmin(const QString &line)
{
    append(m_vmin, line);
}

void Tmidiiof::appendM8data(const QString &line)
{
    append(m_m8data, line);
}

void Tmidiiof::appendVmout(const QString &line)
{
    append(m_vmout, line);
}

void Tmidiiof::setRevision(const QString &text, const QString &text2)
{
    revtext->setText(text);
    revtext2->setText(text2);
}

void Tmidiiof::setTcpoz(const QString &timecode)
{
    m_timecode = timecode;
    if (!m_alarm)
        tcpoz->setText(timecode);
}

void Tmidiiof::setMtccount(const QString &caption)
{
    mtccount->setText(caption);
}

void Tmidiiof::setMmccount(const QString &caption)
{
    mmccount->setText(caption);
}

bool Tmidiiof::isShown() const
{
    return isVisible();
}
