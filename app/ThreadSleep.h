#pragma once

#include "Pause.h"

#include <QThread>

// The window's pause: the GUI thread sleeps, its dialogs shown, while the devices restart.
class ThreadSleep : public Pause
{
public:
    void pause(int milliseconds) override
    {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
};
