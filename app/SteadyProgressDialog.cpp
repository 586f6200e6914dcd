#include "SteadyProgressDialog.h"

#include <QCloseEvent>

SteadyProgressDialog::SteadyProgressDialog(const QString &label, int maximum, QWidget *parent)
    : QProgressDialog(label, QStringLiteral("Cancel"), 0, maximum, parent)
{
}

void SteadyProgressDialog::closeEvent(QCloseEvent *event)
{
    // QProgressDialog's own handler cancels, which hides the dialog.
    event->ignore();
}
