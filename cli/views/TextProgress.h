#pragma once

#include "PhaseView.h"

#include <QElapsedTimer>
#include <QTextStream>

#include <functional>
#include <utility>

// Progress on standard error. On a terminal, one line a phase, redrawn in place with the pages
// done of the total, the percentage and the time left, estimated from the time each unit took so
// far, and cut to the terminal's width so that a redraw never wraps onto a new line. Anywhere else,
// a log: one plain line as each phase begins, never a carriage return.
class TextProgress : public PhaseView
{
public:
    // `columns` tells the terminal's width at each redraw (0: unknown); empty: never cut.
    TextProgress(QTextStream &err, bool terminal, std::function<int()> columns = {})
        : err(err), terminal(terminal), columns(std::move(columns))
    {
    }
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
    const std::function<int()> columns;
    UpdatePhase phase = UpdatePhase::Connecting;
    int total = 0;
    bool lineOpen = false;
    QElapsedTimer clock;
};
