#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class QProgressDialog;
class QWidget;

// Watches every progress dialog the application shows, from the outside: each time one appears,
// what it looks like then, and every value its bar takes afterwards together with the label and
// buttons it has at that moment. Installed on the application for its own lifetime.
class ProgressWatcher : public QObject
{
public:
    struct Step
    {
        int value = 0;
        QString label;
        bool buttonShown = false; // any push button visible in the dialog
        bool visible = false;
        int minimumDuration = -1; // ms
    };

    struct Appearance
    {
        QString label;
        int minimum = 0;
        int maximum = 0;
        int minimumDuration = -1; // ms
        Qt::WindowModality modality = Qt::NonModal;
        QWidget *parent = nullptr;
        bool buttonShown = false;
        QVector<Step> steps;
    };

    ProgressWatcher();
    ~ProgressWatcher() override;

    const QVector<Appearance> &appearances() const { return seen; }
    // Progress dialogs that were shown and still exist.
    int alive() const { return latest.size(); }

    // Called as a progress dialog appears, after it has been recorded.
    std::function<void(QProgressDialog *)> onShow;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void record(QProgressDialog *dialog, int value);

    QVector<Appearance> seen;
    QHash<QObject *, int> latest; // a dialog and the index of its latest appearance
};
