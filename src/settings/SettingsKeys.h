#pragma once

#include <QString>

// Names of the settings keys, in one place. Key names compare without regard to letter case.
namespace SettingsKeys {

// Sections of the settings file.
inline const QString App = QStringLiteral("App");
inline const QString Current = QStringLiteral("Current");
inline const QString DesktopPrefix = QStringLiteral("USER\\");
inline const QString FactoryDesktop = QStringLiteral("<FACTORY DEFAULT>");
inline const QString FactorySection = QStringLiteral("USER\\<FACTORY DEFAULT>");
// Section of the default settings file that marks it and seeds "App".
inline const QString DefaultApp = QStringLiteral("APP");

// Keys of "App".
inline const QString Exe = QStringLiteral("Exe");
inline const QString LastUser = QStringLiteral("LastUser");
inline const QString MultiDisplay = QStringLiteral("MultiDisplay");
inline const QString PathImport = QStringLiteral("PATH_Import");
inline const QString PathExport = QStringLiteral("PATH_Export");

// Keys found only in "USER\" sections.
inline const QString Notes = QStringLiteral("Notes");
inline const QString Pass = QStringLiteral("Pass");

// Marker of per-window keys: "<FORM>" + window name + suffix ("<FORM>edlf_FLeft").
inline const QString FormMarker = QStringLiteral("<FORM>");

// General keys of a desktop.
inline QString reelName(int camera) { return QStringLiteral("reelname%1").arg(camera); }
inline QString editType(int camera) { return QStringLiteral("edittype%1").arg(camera); }
inline QString functionKey(int key) { return QStringLiteral("kf%1").arg(key); } // kf2 .. kf9
inline const QString FileName = QStringLiteral("filename");
inline const QString EdlPath = QStringLiteral("edlpath");
inline const QString GpoPath = QStringLiteral("gpopath");
inline const QString Gpo8 = QStringLiteral("GPO8");
inline const QString CheckDisplay = QStringLiteral("checkdisp");
// EDL layout made by Make ("corvane" or "cmx3600"), one EDL per camera (0 or 1), the frame rate
// of timecodes turned into frame counts (timeline export), and the folder of the last export.
inline const QString EdlFormat = QStringLiteral("edlformat");
inline const QString EdlPerCamera = QStringLiteral("edlpercamera");
inline const QString EdlFps = QStringLiteral("edlfps");
inline const QString TimelinePath = QStringLiteral("timelinepath");

} // namespace SettingsKeys
