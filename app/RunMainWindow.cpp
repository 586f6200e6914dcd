#include "RunMainWindow.h"

#include "MainWin.h"

#include <QApplication>

#include <memory>

int runMainWindow()
{
    const auto window = std::make_unique<MainWin>();
    window->show();
    return QApplication::exec();
}
