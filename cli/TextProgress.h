#pragma once

#include "PhaseView.h"

#include <QElapsedTimer>
#include <QTextStream>

// Progress on standard error. On a terminal, one line a phase, redrawn in place with the pages
// done of the total, the percentage and the time left, estimated from the time each unit took so
// far. Anywhere else, a log: one plain line as each phase begins, never a carriage return.
class TextProgress : public PhaseView
{
public:
    TextProgress(QTextStream &err, bool terminal) : err(err), terminal(terminal) {}
    ~TextProgress() override { settle(); }
    TextProgress(const TextProgress &) = delete;
    TextProgress &operator=(const TextProgress &) = delete;

    void begin(UpdatePhase phase, int total) override;
    void advance(int done) override;
    void settle() override;

    // The phase's line as it stands after `done` of `total` units in `elapsedMs`.
    static QString line(const QString &title, UpdatePhase phase, int done, int total,
                        qint64 elapsedMs);

private:
    void redraw(int done);

    QTextStream &err;
    const bool terminal;
    UpdatePhase phase = UpdatePhase::Connecting;
    int total = 0;
    bool lineOpen = false;
    QElapsedTimer clock;
};
