#pragma once

#include "CommandChannel.h"
#include "TargetProfile.h"
#include "UpdateTarget.h"

#include <QMainWindow>

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
    // Runs one update sequence unless one is running already: the slots are reached again only
    // if something lets user input through while a sequence runs.
    void runUpdate(const UpdateTarget &target);

    CommandChannel channel;
    TargetProfile profile{};
    bool updating = false;
};
