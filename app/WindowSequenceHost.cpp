#include "WindowSequenceHost.h"

#include "MainWin.h"
#include "UpdateTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

void WindowSequenceHost::showConnectionError(const QString &text, const QString &advice)
{
    QMessageBox box(&window);
    box.setText(text);
    box.setInformativeText(advice);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void WindowSequenceHost::showError(const QString &text)
{
    QMessageBox::critical(&window, QString::fromLatin1(kErrorTitle), text, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

void WindowSequenceHost::showMessage(const QString &text)
{
    QMessageBox box(&window);
    box.setStandardButtons(QMessageBox::Ok);
    box.setText(text);
    box.exec();
}

QString WindowSequenceHost::chooseHexFile()
{
    return QFileDialog::getOpenFileName(&window, MainWin::tr("Open Hex File"), QDir::homePath(),
                                        MainWin::tr("Hex files (*.hex)"));
}

void WindowSequenceHost::startWait(const QString &label)
{
    window.raise();
    waitDialog = std::make_unique<SteadyProgressDialog>(label, 10, &window);
    waitDialog->setWindowModality(Qt::ApplicationModal);
    // The device restarts whatever the user does; there is nothing to cancel.
    waitDialog->setCancelButton(nullptr);
    waitDialog->setMinimumDuration(0);
    waitDialog->show();
    waitDialog->raise();
    waitDialog->activateWindow();
}

void WindowSequenceHost::waitStep(int value)
{
    waitDialog->setValue(value);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WindowSequenceHost::restartWait()
{
    waitDialog->reset();
    waitDialog->show();
    waitDialog->raise();
    waitDialog->activateWindow();
}

void WindowSequenceHost::finishWait()
{
    waitDialog.reset();
}

UpdateResult WindowSequenceHost::program(UpdateTarget target, std::FILE *file)
{
    return target == UpdateTarget::ControlPanel ? window.programControlPanel(file)
                                                : window.programControlBoard(file);
}
