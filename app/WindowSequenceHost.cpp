#include "WindowSequenceHost.h"

#include "MainWin.h"
#include "UpdateTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

void WindowSequenceHost::showConnectionError(const ConnectionProblem &problem)
{
    QMessageBox box(&window);
    box.setText(problem.text);
    box.setInformativeText(problem.advice);
    box.setDetailedText(problem.detail);
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

void WindowSequenceHost::startWait(const QString &label, int steps)
{
    window.raise();
    waitDialog = std::make_unique<SteadyProgressDialog>(label, steps, &window);
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

void WindowSequenceHost::pause(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void WindowSequenceHost::historyNotWritten(const QString &why)
{
    // The window has no place for it that would not interrupt the user; the update goes on.
    qWarning("zelUpdate: update history not written: %s", qPrintable(why));
}
