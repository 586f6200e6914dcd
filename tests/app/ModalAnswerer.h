#pragma once

#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <QVector>

class QWidget;

// Answers the modal dialogs that the code under test opens, so a test neither blocks in their
// exec() nor has to know when they come. While any event loop runs (a dialog's own included) it
// polls QApplication::activeModalWidget(), records what is up and closes it. A dialog that never
// comes leaves count() at 0 and fails the test instead of hanging it.
class ModalAnswerer
{
public:
    struct Dialog
    {
        QString className;
        QString title;
        QString text;
        QString informativeText;
        QMessageBox::StandardButtons standardButtons;
        int buttonCount = 0;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget *parent = nullptr;
        Qt::WindowModality modality = Qt::NonModal;
    };

    // A message box is answered with `answer` when it offers it; any other dialog is rejected.
    explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);

    int count() const { return dialogs.size(); }
    const Dialog &dialog(int index) const { return dialogs.at(index); }
    // For dialogs that come later from the event loop: true once `n` have been answered.
    bool waitFor(int n = 1, int timeoutMs = 5000);

private:
    void poll();

    QMessageBox::StandardButton answer;
    QTimer timer;
    QVector<Dialog> dialogs;
};
