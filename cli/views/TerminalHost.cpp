#include "TerminalHost.h"

#include "CliTexts.h"
#include "CommandLineText.h"
#include "ConnectionAdvice.h"
#include "Printable.h"
#include "UpdateTexts.h"

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

QString TerminalHost::endText(const UpdateOutcome &outcome) const
{
    return commandLineText(outcome);
}

void TerminalHost::ended(const UpdateOutcome &outcome)
{
    if (outcome.problem)
        say(connectionProblemText(*outcome.problem));
    else if (!outcome.text.isEmpty())
        say(outcome.text);
}

void TerminalHost::unitChosen(const UnitIdentity &unit)
{
    view.chosen(unit);
    say(QStringLiteral("ControlPanel at USB port %1%2")
            .arg(unit.port.isEmpty() ? QStringLiteral("(unknown)") : printable(unit.port),
                 unit.serial.isEmpty()
                     ? QString()
                     : QStringLiteral(", serial number ") + printable(unit.serial)));
}

void TerminalHost::enteringBootloader()
{
    // From here on a keypress must not cut the update short.
    if (io.enteringBootloader)
        io.enteringBootloader();
    view.entering();
}

void TerminalHost::pause(int milliseconds)
{
    io.wait(milliseconds);
}

void TerminalHost::lockFolderMissing()
{
    if (io.noLockFolderSaid)
        return;
    io.noLockFolderSaid = true;
    warn(QLatin1String(kNoLockFolderText));
}

void TerminalHost::historyNotWritten(const QString &why)
{
    warn(QStringLiteral("update history not written: ") + why);
}

void TerminalHost::warn(const QString &text)
{
    say(QLatin1String(kWarningPrefix) + text);
    view.warned(text);
}
