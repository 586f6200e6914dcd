#pragma once

#include "CommandChannel.h"
#include "SequenceHost.h"
#include "TargetProfile.h"
#include "UpdateResult.h"

#include <QMainWindow>

#include <cstdio>

class MainWinTest;
class ProgressDialogTest;
class UpdateSequenceTest;
class WindowSequenceHost;

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
    friend class ProgressDialogTest;
    friend class UpdateSequenceTest;
    friend class WindowSequenceHost;

    // Write and verify the open HEX file on a target whose bootloader runs, under a progress
    // dialog. Empty on success, otherwise the first error met.
    UpdateResult programControlPanel(std::FILE *file);
    UpdateResult programControlBoard(std::FILE *file);

    // Runs one update sequence unless one is running already: the slots are reached again only
    // if something lets user input through while a sequence runs.
    void runUpdate(UpdateTarget target);

    CommandChannel channel;
    TargetProfile profile{};
    bool updating = false;
};
