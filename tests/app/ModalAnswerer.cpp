#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QProgressDialog>
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
    if (!modal || !modal->isVisible() || qobject_cast<QProgressDialog *>(modal))
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
        seen.detailedText = box->detailedText();
        seen.standardButtons = box->standardButtons();
        seen.buttonCount = box->buttons().size();
        seen.icon = box->icon();
    }
    auto *fileDialog = qobject_cast<QFileDialog *>(modal);
    if (fileDialog) {
        seen.directory = fileDialog->directory().absolutePath();
        seen.nameFilters = fileDialog->nameFilters();
        seen.fileMode = fileDialog->fileMode();
        seen.acceptMode = fileDialog->acceptMode();
        seen.chosen = files.isEmpty() ? QString() : files.takeFirst();
    }
    if (onSeen)
        onSeen(seen);

    // Pressing the button is what a user does; anything else is made to go away.
    if (box && box->button(answer)) {
        box->button(answer)->click();
    } else if (fileDialog && !seen.chosen.isEmpty()) {
        // The path goes where a user types it. selectFile() leaves a focused name field alone and
        // selects through the file model, which may not have read the folder yet.
        auto *nameField = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (nameField)
            nameField->setText(seen.chosen);
        else
            fileDialog->selectFile(seen.chosen);
        // QFileDialog's accept() is protected; it still answers QDialog's, and checks the choice.
        static_cast<QDialog *>(fileDialog)->accept();
    } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        dialog->reject();
    } else {
        modal->close();
    }
    dialogs.append(seen);
    if (onAnswered)
        onAnswered(seen);
}
