#include "ProgressDialogReporter.h"

#include "UpdateTexts.h"

#include <QCoreApplication>

void ProgressDialogReporter::start(int maximum)
{
    dialog =
        std::make_unique<SteadyProgressDialog>(QString::fromLatin1(kWritingLabel), maximum, parent);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    // A write cannot be cut short safely, so there is nothing to cancel with.
    dialog->setCancelButton(nullptr);
    dialog->setMinimumDuration(0);
}

void ProgressDialogReporter::step(int value)
{
    dialog->setValue(value);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressDialogReporter::startVerifying(int value)
{
    dialog->setValue(value);
    dialog->setLabelText(QString::fromLatin1(kVerifyingLabel));
}

void ProgressDialogReporter::finish()
{
    dialog.reset();
}
