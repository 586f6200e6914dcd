#include "CommandLineText.h"

#include "ConnectionAdvice.h"
#include "OutcomeText.h"
#include "Printable.h"
#include "ProbeTexts.h"

namespace {

constexpr const char *kRunInBootloader = "run the update again with --in-bootloader";
constexpr const char *kRecoverPanel =
    "recover it with zelupdate-cli update --target panel --in-bootloader FILE";

// How to go on from where the update left the unit, continuing the text's last sentence.
QString advice(const UpdateOutcome &outcome)
{
    if (outcome.failed == FailedStep::Entry)
        return QStringLiteral(": if the next update cannot connect, run it with --in-bootloader");
    if (outcome.failed == FailedStep::Bootloader && outcome.restart == RestartEnd::NeverBack)
        return QStringLiteral(" (--restart-timeout waits longer)");
    switch (afterFailure(outcome)) {
    case AfterFailure::Nothing:
    case AfterFailure::BackUnchanged:
        break;
    case AfterFailure::NoBootloader:
        return outcome.returned == Return::InBootloader
                   ? QStringLiteral(". Update it then with zelupdate-cli update --target panel "
                                    "--in-bootloader FILE, or with zelupdate-cli update --target "
                                    "board FILE")
                   : QStringLiteral(". Update it then with zelupdate-cli update --target board "
                                    "--in-bootloader FILE, or with zelupdate-cli update --target "
                                    "panel FILE");
    case AfterFailure::MayStayInBootloader:
    case AfterFailure::BoardInBootloader:
        return QStringLiteral(": ") + QLatin1String(kRunInBootloader);
    case AfterFailure::StayedInBootloader:
        return QStringLiteral("; ") + QLatin1String(kRunInBootloader);
    case AfterFailure::NotBackAfterFailure:
        return QStringLiteral("; if it then does not answer, ") + QLatin1String(kRunInBootloader);
    }
    return QString();
}

// An earlier update of the unit that did not finish explains a unit that does not answer.
QString unfinishedNote(const QString &port, const std::optional<UnitMark> &unfinished)
{
    const QString text = unfinishedUpdateText(port, unfinished);
    return text.isEmpty() ? text
                          : QLatin1Char('\n') + text +
                                QStringLiteral(" Run the update again with --in-bootloader");
}

} // namespace

QString commandLineText(const UpdateOutcome &outcome)
{
    QString text = outcomeText(outcome) + advice(outcome);
    const bool silent = outcome.failed == FailedStep::Entry ||
                        (outcome.failed == FailedStep::Connection && !outcome.problem);
    if (silent)
        text += unfinishedNote(outcome.port, outcome.unfinished);
    return text;
}

QString commandLineText(const ProbeReport &report)
{
    QString text = report.text;
    switch (report.end) {
    case ProbeEnd::NoUnit:
        if (report.restart && !report.problem)
            text += QStringLiteral(": probe it without --restart");
        break;
    case ProbeEnd::NotAnswering:
        text += QStringLiteral(": ") + QLatin1String(kRecoverPanel);
        break;
    case ProbeEnd::NeverBackInBootloader:
        text +=
            report.toBootloader.elsewhere
                ? QStringLiteral("; recover it with zelupdate-cli update --target panel "
                                 "--port %1 --in-bootloader FILE")
                      .arg(printable(QString::fromStdString(report.toBootloader.elsewhere->port)))
                : QStringLiteral(": ") + QLatin1String(kRecoverPanel) +
                      QStringLiteral(" (probe --restart-timeout waits longer)");
        break;
    case ProbeEnd::ExitNotConfirmed:
    case ProbeEnd::SilentAfterReturn:
        if (report.mayBeInBootloader)
            text += QStringLiteral("; ") + QLatin1String(kRecoverPanel);
        break;
    case ProbeEnd::NeverLeftForApplication:
        text += QStringLiteral(": ") + QLatin1String(kRecoverPanel);
        break;
    case ProbeEnd::NeverBackInApplication:
        text +=
            QStringLiteral("; if it then does not answer probe, ") + QLatin1String(kRecoverPanel);
        break;
    case ProbeEnd::Measured:
    case ProbeEnd::RestartRefused:
    case ProbeEnd::StoppedAnswering:
    case ProbeEnd::EntryNotConfirmed:
    case ProbeEnd::NeverLeftForBootloader:
    case ProbeEnd::Interrupted:
        break;
    }
    if (report.end == ProbeEnd::NotAnswering && report.unit)
        text += unfinishedNote(QString::fromStdString(report.unit->port), report.unfinished);
    return text;
}
