#include "TerminalHost.h"

#include "EscapedText.h"

#include <QThread>

void TerminalHost::say(const QString &text)
{
    view.settle();
    // Device strings reach the engine's messages (the detail of a connection problem).
    io.err << escapedLines(text) << '\n';
    io.err.flush();
}

void TerminalHost::showConnectionError(const ConnectionProblem &problem)
{
    QString text = problem.text + QLatin1Char('\n') + problem.advice;
    if (!problem.detail.isEmpty())
        text += QStringLiteral("\n\n") + problem.detail;
    say(text);
}

void TerminalHost::showError(const QString &text)
{
    say(text);
}

void TerminalHost::showMessage(const QString &text)
{
    say(text);
}

void TerminalHost::pause(int milliseconds)
{
    if (io.pause)
        io.pause(milliseconds);
    else
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void TerminalHost::historyNotWritten(const QString &why)
{
    say(QStringLiteral("warning: update history not written: ") + why);
}
