#pragma once

#include "CommandChannel.h"
#include "Pause.h"
#include "TargetProfile.h"
#include "ThreadSleep.h"
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

    // What takes each step of the waits after a restart command: the thread sleeps through the
    // step unless a test hands in another pause. Not owned; it must outlive every update.
    void setStepPause(Pause &pause) { stepPause = &pause; }

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
    ThreadSleep sleep;
    Pause *stepPause = &sleep;
    TargetProfile profile{};
    bool updating = false;
};
