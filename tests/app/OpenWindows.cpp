#include "OpenWindows.h"

#include <QApplication>
#include <QWidget>

QStringList visibleTopLevelWindows()
{
    QStringList open;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->isVisible())
            open.append(QString::fromLatin1(window->metaObject()->className()));
    }
    return open;
}
