#include "ProgressDialogReporter.h"

#include "WindowTexts.h"

#include <QCoreApplication>

void ProgressDialogReporter::phaseBegins(UpdatePhase phase, int total)
{
    if (phase == UpdatePhase::Writing)
        startWriting(total);
    else if (phase == UpdatePhase::Verifying)
        startVerifying();
}

void ProgressDialogReporter::startWriting(int usedPages)
{
    pages = usedPages;
    doneBefore = 0;
    dialog = std::make_unique<SteadyProgressDialog>(QString::fromLatin1(kWritingLabel), 2 * pages,
                                                    parent);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->showNow();
    dialog->raise();
    dialog->activateWindow();
    // A write cannot be cut short safely, so there is nothing to cancel with.
    dialog->setCancelButton(nullptr);
    dialog->setMinimumDuration(0);
}

void ProgressDialogReporter::advanced(int done)
{
    dialog->setValue(doneBefore + done);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressDialogReporter::startVerifying()
{
    doneBefore = pages;
    dialog->setValue(doneBefore);
    dialog->setLabelText(QString::fromLatin1(kVerifyingLabel));
}

void ProgressDialogReporter::walkEnded()
{
    dialog.reset();
}
