#pragma once

#include "CommandChannel.h"
#include "TargetProfile.h"

#include <QMainWindow>

class MainWinTest;

// The one window: an instruction and three buttons. It owns the connection to the ControlPanel
// for the program's whole run and keeps its own place on the screen between runs.
class MainWin : public QMainWindow
{
    Q_OBJECT

public:
    // The window is always top-level, so `parent` is not used.
    explicit MainWin(QWidget *parent = nullptr);
    // Releases the connection (hid_close if held, hid_exit in any case).
    ~MainWin() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void programVak00(); // updates the ControlPanel
    void programZel02(); // updates the control board

private:
    friend class MainWinTest;

    // True when no ControlPanel could be opened; the user has been told then.
    bool openChannel();
    // Tells the user that the ControlPanel cannot be reached and drops the connection.
    void showConnectionError();

    CommandChannel channel;
    TargetProfile profile{};
};
