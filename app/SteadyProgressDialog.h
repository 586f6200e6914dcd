#pragma once

#include <QProgressDialog>

// A progress dialog that stays up until its owner is done with it. Without a cancel button
// QProgressDialog still hides itself on Esc and on its window's close button, which gives the
// user the main window back in the middle of an update; here both do nothing. It still resets
// and hides itself on reaching its maximum.
class SteadyProgressDialog : public QProgressDialog
{
public:
    SteadyProgressDialog(const QString &label, int maximum, QWidget *parent);

    void reject() override {}

protected:
    void closeEvent(QCloseEvent *event) override;
};
