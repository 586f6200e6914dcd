#include "TerminalHost.h"

#include "CliTexts.h"
#include "ConnectionAdvice.h"
#include "UpdateTexts.h"

#include <QThread>

void TerminalHost::say(const QString &text)
{
    view.settle();
    io.err << text << '\n';
    io.err.flush();
}

QString connectionProblemText(const ConnectionProblem &problem)
{
    QString text = problem.text + QLatin1Char('\n') + problem.advice;
    switch (problem.kind) {
    // The detail names each unit with its strings escaped already (describeUnit); the ports and
    // a port or serial number given on the command line are escaped here.
    case ConnectionProblem::Kind::NoPanel:
        if (!problem.detail.isEmpty())
            text += QStringLiteral("\n\n") + problem.detail;
        break;
    case ConnectionProblem::Kind::Busy:
        // Names the port and the other program: all a script needs.
        text = problem.detail;
        break;
    case ConnectionProblem::Kind::SeveralPanels:
        text = QString::fromLatin1(kSeveralUnitsText)
                   .arg(problem.ports.count(QLatin1Char(',')) + 1)
                   .arg(printable(problem.ports));
        break;
    case ConnectionProblem::Kind::NotAttached:
        text =
            printable(problem.text) +
            QStringLiteral(" (attached: %1)")
                .arg(problem.ports.isEmpty() ? QStringLiteral("none") : printable(problem.ports));
        break;
    }
    return text;
}

void TerminalHost::showConnectionError(const ConnectionProblem &problem)
{
    say(connectionProblemText(problem));
}

void TerminalHost::showError(const QString &text)
{
    say(text);
}

void TerminalHost::showMessage(const QString &text)
{
    say(text);
}

void TerminalHost::unitChosen(const QString &port, const QString &serial)
{
    view.setUnit(port);
    say(QStringLiteral("ControlPanel at USB port %1%2")
            .arg(port.isEmpty() ? QStringLiteral("(unknown)") : printable(port),
                 serial.isEmpty() ? QString()
                                  : QStringLiteral(", serial number ") + printable(serial)));
}

void TerminalHost::phaseBegins(UpdatePhase phase, int total)
{
    // From the entry command on, and for a unit already in its bootloader from its first page, a
    // keypress must not cut the update short.
    const bool deferFromHere =
        phase == UpdatePhase::EnteringBootloader || phase == UpdatePhase::Writing;
    if (deferFromHere && io.enteringBootloader)
        io.enteringBootloader();
    view.begin(phase, total);
}

void TerminalHost::pause(int milliseconds)
{
    if (io.pause)
        io.pause(milliseconds);
    else
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void TerminalHost::lockFolderMissing()
{
    if (io.noLockFolderSaid)
        return;
    io.noLockFolderSaid = true;
    say(QLatin1String(kWarningPrefix) + QLatin1String(kNoLockFolderText));
}

void TerminalHost::historyNotWritten(const QString &why)
{
    say(QStringLiteral("warning: update history not written: ") + why);
}
