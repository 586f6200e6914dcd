#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QtTest>

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton answer) : answer(answer)
{
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
    timer.start();
}

bool ModalAnswerer::waitFor(int n, int timeoutMs)
{
    return QTest::qWaitFor([this, n] { return dialogs.size() >= n; }, timeoutMs);
}

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;

    Dialog seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    seen.parent = modal->parentWidget();
    seen.modality = modal->windowModality();
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (box) {
        seen.text = box->text();
        seen.informativeText = box->informativeText();
        seen.standardButtons = box->standardButtons();
        seen.buttonCount = box->buttons().size();
        seen.icon = box->icon();
    }
    dialogs.append(seen);

    // Pressing the button is what a user does; anything else is made to go away.
    if (box && box->button(answer))
        box->button(answer)->click();
    else if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}
