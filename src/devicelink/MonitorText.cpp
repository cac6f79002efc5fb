#include "MonitorText.h"

#include "DeviceCodec.h"

#include <algorithm>

const std::array<const char *, 24> MidiMessageNames = {
    "Note Off",
    "Note On",
    "Key Aftertouch",
    "Control Change",
    "Program Change",
    "Channel Aftertouch",
    "Pitch Bend",
    "System Message",
    "System Exclusive",
    "MTC Quarter Frame",
    "Song Position Pointer",
    "Song Select",
    "Undefined",
    "Undefined",
    "Tune Request",
    "System Exclusive End",
    "Timing Clock",
    "Undefined",
    "Start",
    "Continue",
    "Stop",
    "Undefined",
    "Active Sensing",
    "System Reset",
};

const char *MidiMessageName(std::uint8_t status)
{
    if (status >= 0x80 && status < 0xF0)
        return MidiMessageNames[std::size_t((status - 0x80) / 16)];
    return MidiMessageNames[std::size_t(8 + (status & 0x0F))];
}

QString MidiEventText(const TMyMidiEvent &Event)
{
    const std::uint8_t s = Event.Status;
    if (s == 0xF0) {
        const int length = Event.SysexData ? Event.SysexLen : 0;
        return QStringLiteral("Sysex (") + QString::number(Event.SysexLen) + QStringLiteral("): ")
               + SysexBytesText(Event.SysexData.get(), length);
    }
    const unsigned h = Event.Timestamp >> 16;
    const unsigned l = Event.Timestamp & 0xFFFF;
    const char *name = MidiMessageName(s);
    const unsigned d1 = Event.DataByte1;
    const unsigned d2 = Event.DataByte2;
    const unsigned st = s;
    if ((s >= 0x80 && s < 0xC0) || (s >= 0xE0 && s < 0xF0) || s == 0xF2)
        return QString::asprintf("%4.4X%4.4X %2.2X %2.2X %2.2X %s", h, l, st, d1, d2, name);
    if ((s >= 0xC0 && s < 0xE0) || s == 0xF1 || s == 0xF3)
        return QString::asprintf("%4.4X%4.4X %2.2X %2.2X       %s", h, l, st, d1, name);
    return QString::asprintf("%4.4X%4.4X %2.2X             %s", h, l, st, name);
}

QString SysexBytesText(const std::uint8_t *Bytes, int Length)
{
    return HexBytes(Bytes, std::min(Length, SysexDumpLimit), "", " ");
}

QString ShortMessageName(std::uint8_t status)
{
    switch (status) {
    case 0x90: return QStringLiteral("Note On");
    case 0xF1: return QStringLiteral("QF Timecode");
    case 0xF2: return QStringLiteral("Song Position");
    case 0xF3: return QStringLiteral("Song Select");
    case 0xF4:
    case 0xF5: return QStringLiteral("Undefined");
    case 0xF6: return QStringLiteral("Tune request");
    case 0xF7: return QStringLiteral("End of SYSX");
    default: return QString();
    }
}

namespace {

const char *mmcCommand(std::uint8_t command)
{
    switch (command) {
    case 0x01: return "Stop";
    case 0x02: return "Play";
    case 0x03: return "Defered Play";
    case 0x04: return "Fast Fwd";
    case 0x05: return "Fast Rewind";
    case 0x06: return "Record On";
    case 0x07: return "Record Off";
    case 0x08: return "Record Pause";
    case 0x09: return "Pause";
    case 0x0A: return "Eject";
    case 0x0B: return "Chase";
    case 0x0C: return "Cmd Err Rst";
    case 0x0D: return "MMC Reset";
    case 0x40: return "Write: ";
    case 0x41: return "Masked Write: ";
    case 0x42: return "Read: ";
    case 0x43: return "Update";
    case 0x44: return "Locate";
    case 0x45: return "Vari-Play";
    case 0x46: return "Jog";
    case 0x47: return "Shuttle";
    case 0x48: return "Step";
    case 0x49: return "Assign Master";
    case 0x4A: return "Gen Cmd";
    case 0x4B: return "MTC Cmd";
    case 0x4C: return "Move";
    case 0x4D: return "Add";
    case 0x4E: return "Subtract";
    case 0x4F: return "Drop Frame Adj";
    case 0x50: return "Procedure";
    case 0x51: return "Event";
    case 0x52: return "Group";
    case 0x53: return "Cmd Seg";
    case 0x54: return "Defered Var Play";
    case 0x55: return "Rec Strobe Var";
    case 0x6F: return "Sequoia: ";
    case 0x7C: return "Wait";
    case 0x7F: return "Resume";
    default: return nullptr;
    }
}

const char *mmcField(std::uint8_t field)
{
    switch (field) {
    case 0x01: return "Selected Timecode";
    case 0x02: return "SELECTED MASTER T/C";
    case 0x03: return "REQUESTED OFFSET";
    case 0x04: return "ACTUAL OFFSET";
    case 0x05: return "LOCK DEVIATION";
    case 0x06: return "GENERATOR TIMECODE";
    case 0x07: return "MIDI TC INPUT";
    case 0x08: return "GP0 Time + sub frames";
    case 0x09: return "GP1 Time + sub frames";
    case 0x0A: return "GP2 Time + sub frames";
    case 0x0B: return "GP3 Time + sub frames";
    case 0x0C: return "GP4 Time + sub frames";
    case 0x0D: return "GP5 Time + sub frames";
    case 0x0E: return "GP6 Time + sub frames";
    case 0x0F: return "GP7 Time + sub frames";
    case 0x21: return "Short Position";
    case 0x22: return "Short Master Poz";
    case 0x23: return "Short Rquested Offset";
    case 0x24: return "Short Actual Offset";
    case 0x25: return "Short Lock Deviation";
    case 0x26: return "Short Generator Timecode";
    case 0x27: return "Short TC Input";
    case 0x28: return "Short GP0";
    case 0x29: return "Short GP1";
    case 0x2A: return "Short GP2";
    case 0x2B: return "Short GP3";
    case 0x2C: return "Short GP4";
    case 0x2D: return "Short GP5";
    case 0x2E: return "Short GP6";
    case 0x2F: return "Short GP7";
    case 0x40: return "SIGNATURE";
    case 0x41: return "UPDATE RATE";
    case 0x42: return "RESPONSE ERROR";
    case 0x43: return "COMMAND ERROR";
    case 0x44: return "COMMAND ERROR LEVEL";
    case 0x45: return "STANDARD";
    case 0x46: return "TC SOURCE";
    case 0x47: return "TC USER BITS";
    case 0x48: return "Motion Control Tally";
    case 0x49: return "Speed";
    case 0x4A: return "STOP MONITORING MODE";
    case 0x4B: return "FASt MONITORING MODE";
    case 0x4C: return "RECORD REHERSAL MODE";
    case 0x4D: return "Record Status";
    case 0x4E: return "Record Track Map";
    case 0x4F: return "Ready Track Map";
    case 0x50: return "Master MONITORING";
    case 0x51: return "RECORD SELSYNC";
    case 0x52: return "TRACK SYNC MONITOR";
    case 0x53: return "Input Monitor Track Map";
    case 0x54: return "STEP LENGTH";
    case 0x55: return "PLAY REFERENCE";
    case 0x56: return "SET SPEED";
    case 0x57: return "LIFTER DEFEAT";
    case 0x58: return "LOCAl on/off";
    case 0x59: return "RESOLVED PLAY MODE";
    case 0x5A: return "CHASE MODE";
    case 0x5B: return "GEN COMMAND TALLY";
    case 0x5C: return "GEN SETUP";
    case 0x5D: return "GEN USER";
    case 0x5E: return "MIDI TC CMD TALLY";
    case 0x5F: return "MIDI TC SETUP";
    case 0x60: return "PROCEDURE RESPONSE";
    case 0x61: return "EVENT RESPONSE";
    case 0x62: return "Track Mute Map";
    case 0x63: return "VITC INSERT ENABLE";
    case 0x64: return "RESPONSE SEGMENT";
    case 0x65: return "FAILURE";
    case 0x77: return "Track Solo Map";
    case 0x7C: return "WAIT";
    case 0x7F: return "RESUME";
    default: return nullptr;
    }
}

} // namespace

QString MmcFieldName(std::uint8_t FieldByte)
{
    const char *name = mmcField(FieldByte);
    return QLatin1String(name ? name : "Unknown");
}

QString MmcCommandName(const std::uint8_t *Bytes, int Length)
{
    constexpr int CommandPos = 4;
    constexpr int FieldPos = 6;
    const int content = SysexContentLength(Bytes, Length);
    if (content <= CommandPos)
        return QString();
    const std::uint8_t command = Bytes[CommandPos];
    const char *name = mmcCommand(command);
    if (!name)
        return QString();
    if (command >= 0x40 && command <= 0x42) {
        if (content <= FieldPos)
            return QString();
        return QLatin1String(name) + MmcFieldName(Bytes[FieldPos]);
    }
    return QLatin1String(name);
}
