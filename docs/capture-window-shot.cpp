// Renders docs/capture-window.png, the capture window of the README, without a display. Not part
// of the build: compile it against a build folder's libraries, for example
//
//   B=build/debug
//   g++ -std=c++20 -fPIC -DBINDIR="\"$B/bin\"" -Isrc/capture -Isrc/settings -Isrc/platform \
//       -Isrc/controls $(pkg-config --cflags Qt6Widgets) docs/capture-window-shot.cpp \
//       $B/src/capture/libcorvane_capture.a $B/src/capture/libcorvane_capture_core.a \
//       $B/src/settings/libcorvane_settings.a $B/src/controls/libcorvane_controls.a \
//       $B/src/platform/libcorvane_platform.a $(pkg-config --libs Qt6Widgets) -o /tmp/shot
//   QT_QPA_PLATFORM=offscreen /tmp/shot docs/capture-window.png

#include "AppPaths.h"
#include "Clock.h"
#include "KxSettings.h"
#include "edlu.h"

#include <QApplication>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    FixedClock clock(QDateTime(QDate(2025, 3, 14), QTime(20, 15, 42)));
    setAppClock(&clock);
    // A program folder of its own: the shot never touches a real settings file.
    QTemporaryDir dir;
    QFile::copy(QStringLiteral(BINDIR "/corvane.def"), dir.filePath(QStringLiteral("corvane.def")));
    AppPaths::setProgramFolder(dir.path());
    AppPaths::setExecutableFileName(QStringLiteral("corvane"));
    {
        Tedlf window;
        const char *reels[] = {"WIDE", "HOST", "GUEST", "JIB"};
        for (int camera = 1; camera <= 4; ++camera)
            window.cameragrid->item(camera, 1)->setText(QLatin1String(reels[camera - 1]));
        SettingsFile->SetString(QStringLiteral("filename"), QStringLiteral("Studio A Ep12"));
        window.show();
        struct Event {
            const char *timecode;
            const char *camera;
            const char *comment;
        };
        const Event events[] = {{"10:00:00:00", "0001", ""},     {"10:00:04:12", "0002", ""},
                                {"10:00:11:03", "0004", "Keep"}, {"10:00:15:20", "0002", ""},
                                {"10:00:22:08", "0008", "Good"}, {"10:00:27:00", "0001", ""},
                                {"10:00:31:17", "0004", "Check focus"}, {"10:00:40:05", "0002", ""}};
        for (const Event &e : events) {
            window.AddGpoEvent(QLatin1String(e.timecode), QLatin1String(e.timecode), QLatin1String(e.camera));
            window.captureList().announcePendingRows();
            if (*e.comment)
                window.SetLastComment(QLatin1String(e.comment));
        }
        window.setTimecode(QStringLiteral("10:00:43:11"));
        window.BuildEdl();
        QApplication::processEvents();
        if (!window.grab().save(QString::fromLocal8Bit(argv[1])))
            return 1;
    }
    CloseSettingsFile();
    return 0;
}
