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

    // Shows the dialog at once and marks it shown, as its own minimum-duration timer does, so
    // that the timer does not show it a second time: Qt 6.8 sends a visible dialog that is shown
    // again a second Show event, which Qt 5 and earlier Qt 6 did not.
    void showNow() { forceShow(); }

protected:
    void closeEvent(QCloseEvent *event) override;
};
