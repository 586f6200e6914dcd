#include "WindowSequenceHost.h"

#include "MainWin.h"
#include "OutcomeText.h"
#include "UpdateTexts.h"
#include "WindowTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMessageBox>

namespace {

// The file dialog's Type column named by the file's suffix ("hex File"), as Qt 5 names it. Qt 6
// names the MIME type instead, which it finds by reading the file: the dialog would open the HEX
// file before the update loads it.
class SuffixFileTypes : public QFileIconProvider
{
public:
    QString type(const QFileInfo &info) const override
    {
        if (!info.isFile())
            return QFileIconProvider::type(info);
        const QString suffix = info.suffix();
        if (suffix.isEmpty())
            return QCoreApplication::translate("QFileDialog", "File");
        return QCoreApplication::translate("QFileDialog", "%1 File").arg(suffix);
    }
};

} // namespace

void WindowSequenceHost::ended(const UpdateOutcome &outcome)
{
    switch (noticeKind(outcome)) {
    case NoticeKind::None:
        break;
    case NoticeKind::ConnectionProblem:
        showConnectionError(*outcome.problem);
        break;
    case NoticeKind::Critical:
        showError(outcome.text);
        break;
    case NoticeKind::Message:
        showMessage(outcome.text);
        break;
    }
}

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

ChosenFirmware WindowSequenceHost::chooseFirmware()
{
    // The window hands over the name only: the file is loaded after the bootloader entry.
    SuffixFileTypes types; // outlives the dialog, which uses it to the end
    QFileDialog dialog(&window, MainWin::tr("Open Hex File"), QDir::homePath(),
                       MainWin::tr("Hex files (*.hex)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setIconProvider(&types);
    const bool chosen = dialog.exec() == QDialog::Accepted;
    return {chosen ? dialog.selectedFiles().value(0) : QString(), nullptr, {}};
}

void WindowSequenceHost::phaseBegins(UpdatePhase begun, int total)
{
    phase = begun;
    switch (phase) {
    case UpdatePhase::WaitingForBootloader:
        startWait(total);
        break;
    case UpdatePhase::WaitingForApplication:
        restartWait();
        break;
    case UpdatePhase::Writing:
    case UpdatePhase::Verifying:
        walkProgress.phaseBegins(phase, total);
        break;
    case UpdatePhase::Connecting:
    case UpdatePhase::EnteringBootloader:
    case UpdatePhase::AwaitingDeparture:
    case UpdatePhase::AwaitingReturn:
    case UpdatePhase::LeavingBootloader:
    case UpdatePhase::ConfirmingApplication:
        // The window shows these only through its waits and its result.
        break;
    }
}

void WindowSequenceHost::progressed(int done)
{
    if (phase == UpdatePhase::Writing || phase == UpdatePhase::Verifying)
        walkProgress.advanced(done);
    else if (waitDialog)
        waitStep(done);
}

void WindowSequenceHost::walkEnded()
{
    walkProgress.walkEnded();
}

void WindowSequenceHost::startWait(int steps)
{
    window.raise();
    waitDialog = std::make_unique<SteadyProgressDialog>(
        QString::fromLatin1(target.restartsIntoBootloader ? kPanelWaitLabel : kBoardWaitLabel),
        steps, &window);
    waitDialog->setWindowModality(Qt::ApplicationModal);
    // The device restarts whatever the user does; there is nothing to cancel.
    waitDialog->setCancelButton(nullptr);
    waitDialog->setMinimumDuration(0);
    waitDialog->showNow();
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
    waitDialog->showNow();
    waitDialog->raise();
    waitDialog->activateWindow();
}

void WindowSequenceHost::finishWait()
{
    waitDialog.reset();
}

void WindowSequenceHost::pause(int milliseconds)
{
    stepPause.pause(milliseconds);
}

void WindowSequenceHost::historyNotWritten(const QString &why)
{
    // The window has no place for it that would not interrupt the user; the update goes on.
    qWarning("zelUpdate: update history not written: %s", qPrintable(why));
}
