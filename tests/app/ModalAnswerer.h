#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

class QWidget;

// Answers the modal dialogs that the code under test opens, so a test neither blocks in their
// exec() nor has to know when they come. While any event loop runs (a dialog's own included) it
// polls QApplication::activeModalWidget(), records what is up and closes it. A dialog that never
// comes leaves count() at 0 and fails the test instead of hanging it. A progress dialog is left
// alone: it goes away by itself when its work is done.
class ModalAnswerer
{
public:
    struct Dialog
    {
        QString className;
        QString title;
        QString text;
        QString informativeText;
        QString detailedText;
        QMessageBox::StandardButtons standardButtons;
        int buttonCount = 0;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget *parent = nullptr;
        Qt::WindowModality modality = Qt::NonModal;
        // A file dialog's caption is `title`; these say where it opened and what it offered.
        QString directory;
        QStringList nameFilters;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
        QString chosen; // the path chosen in it; empty when it was cancelled
    };

    // A message box is answered with `answer` when it offers it, a file dialog as chooseFiles()
    // says; any other dialog is rejected.
    explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);

    int count() const { return dialogs.size(); }
    const Dialog &dialog(int index) const { return dialogs.at(index); }
    // For dialogs that come later from the event loop: true once `n` have been answered.
    bool waitFor(int n = 1, int timeoutMs = 5000);

    // File dialogs are answered in turn with these paths, each selected and accepted; an empty
    // path, or none left, cancels the dialog.
    void chooseFiles(const QStringList &paths) { files = paths; }

    // Called with each dialog's record while the dialog is still up, and again once it has been
    // answered: a test looks around at those moments or changes the world behind the dialog.
    std::function<void(const Dialog &)> onSeen;
    std::function<void(const Dialog &)> onAnswered;

private:
    void poll();

    QMessageBox::StandardButton answer;
    QTimer timer;
    QVector<Dialog> dialogs;
    QStringList files;
};
