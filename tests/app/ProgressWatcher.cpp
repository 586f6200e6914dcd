#include "ProgressWatcher.h"

#include <QApplication>
#include <QEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>

namespace {

bool buttonShown(const QProgressDialog *dialog)
{
    const auto buttons = dialog->findChildren<QPushButton *>();
    for (const QPushButton *button : buttons) {
        if (button->isVisible())
            return true;
    }
    return false;
}

} // namespace

ProgressWatcher::ProgressWatcher()
{
    qApp->installEventFilter(this);
}

ProgressWatcher::~ProgressWatcher()
{
    qApp->removeEventFilter(this);
}

bool ProgressWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Show)
        return false;
    auto *dialog = qobject_cast<QProgressDialog *>(watched);
    if (!dialog)
        return false;

    Appearance appearance;
    appearance.label = dialog->labelText();
    appearance.minimum = dialog->minimum();
    appearance.maximum = dialog->maximum();
    appearance.minimumDuration = dialog->minimumDuration();
    appearance.modality = dialog->windowModality();
    appearance.parent = dialog->parentWidget();
    appearance.buttonShown = buttonShown(dialog);
    seen.append(appearance);

    // The bar is the dialog's own and goes with it; its value is what the user sees move.
    if (!latest.contains(dialog)) {
        auto *bar = dialog->findChild<QProgressBar *>();
        if (bar)
            connect(bar, &QProgressBar::valueChanged, this,
                    [this, dialog](int value) { record(dialog, value); });
        connect(dialog, &QObject::destroyed, this, [this](QObject *gone) { latest.remove(gone); });
    }
    latest.insert(dialog, seen.size() - 1);
    if (onShow)
        onShow(dialog);
    return false;
}

void ProgressWatcher::record(QProgressDialog *dialog, int value)
{
    const auto found = latest.constFind(dialog);
    if (found == latest.constEnd())
        return;
    Step step;
    step.value = value;
    step.label = dialog->labelText();
    step.buttonShown = buttonShown(dialog);
    step.visible = dialog->isVisible();
    step.minimumDuration = dialog->minimumDuration();
    seen[*found].steps.append(step);
}
