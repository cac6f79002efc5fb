#pragma once

class QFileDialog;

// Makes one of the program's file dialogs (Qt's own widgets, not the platform's) behave on every
// desktop: the columns of its file list are wide enough for their headings in the font in use,
// and the name-completion popup of its file-name field goes with the dialog (closed by Enter
// while the popup showed, it would stay on screen over the window below and take its next key or
// click). Call once, after making the dialog.
void prepareFileDialog(QFileDialog *dialog);
