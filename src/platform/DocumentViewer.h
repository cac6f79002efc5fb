#pragma once

#include <QString>

#include <functional>

// Whether the desktop has a program that opens a file of a given type, asked before a document is
// handed to it: on X11 and Wayland desktops the hand-over itself succeeds (xdg-open starts) even
// when nothing can show the file, and only its error stream would tell.
namespace DocumentViewer {

// True when a program is known for the type of the file at path. On Windows and macOS the
// hand-over says so itself, and this is always true.
bool available(const QString &path);

// Tests: what available answers instead (none: the desktop is asked again).
void setCheck(std::function<bool(const QString &path)> check);

} // namespace DocumentViewer
