#include "TextProgress.h"

#include "TerminalWidth.h"

namespace {

QString timeLeft(qint64 milliseconds)
{
    const qint64 seconds = (milliseconds + 999) / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s left").arg(seconds);
    return QStringLiteral("%1:%2 left")
        .arg(seconds / 60)
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

bool countsPages(UpdatePhase phase)
{
    return phase == UpdatePhase::Writing || phase == UpdatePhase::Verifying;
}

} // namespace

QString TextProgress::line(const QString &title, UpdatePhase phase, int done, int total,
                           qint64 elapsedMs)
{
    QString text = title;
    if (total <= 0)
        return text;
    text += QStringLiteral(": ");
    if (countsPages(phase))
        text += QStringLiteral("%1/%2 pages, ").arg(done).arg(total);
    text += QStringLiteral("%1%").arg(qint64(done) * 100 / total);
    // A time per unit needs one unit done; none is left once all are.
    if (done > 0 && done < total)
        text += QStringLiteral(", ") + timeLeft(elapsedMs * (total - done) / done);
    return text;
}

void TextProgress::begin(UpdatePhase next, int units)
{
    settle();
    phase = next;
    total = units;
    clock.start();
    if (terminal) {
        lineOpen = true;
        redraw(0);
        return;
    }
    QString text = title(phase);
    if (countsPages(phase))
        text += QStringLiteral(": %1 pages").arg(total);
    err << text << '\n';
    err.flush();
}

void TextProgress::advance(int done)
{
    if (terminal && lineOpen)
        redraw(done);
}

void TextProgress::settle()
{
    if (!lineOpen)
        return;
    lineOpen = false;
    err << '\n';
    err.flush();
}

void TextProgress::redraw(int done)
{
    const QString text = fitToTerminal(line(title(phase), phase, done, total, clock.elapsed()),
                                       columns ? columns() : 0);
    // Back to the start of the line, and clear what a longer line left there.
    err << "\r\x1b[K" << text;
    err.flush();
}
