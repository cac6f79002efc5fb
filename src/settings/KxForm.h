#pragma once

#include <QMainWindow>

// The settings-aware window base. The first one created (the main window) opens the settings
// file while it loads, so the window's own set-up can read settings, and closes it when the
// window receives its close message.
class TKxForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TKxForm(QWidget *parent = nullptr);

    // True for the window that opened the settings file (the main window).
    bool ownsSettingsFile() const { return m_ownsSettings; }

    // Closes the window as the program's own close call does: KxFormClose runs, but unlike the
    // close message (close box, system menu, close()) nothing is saved to the settings file.
    void closeWithoutCloseMessage();

protected:
    void closeEvent(QCloseEvent *event) override;
    // Called while the window closes, before the settings file is closed.
    virtual void KxFormClose() {}

private:
    bool m_ownsSettings = false;
    bool m_programClose = false;
};
