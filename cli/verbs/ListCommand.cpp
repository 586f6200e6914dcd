#include "ListCommand.h"

#include "CliTexts.h"
#include "ConnectionAdvice.h"
#include "ControlPanelSurvey.h"
#include "ExitCodes.h"
#include "JsonLines.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "UnitLock.h"
#include "UpdateProgress.h"
#include "UpdateTexts.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Heads a unit whose port sysfs did not give (not on USB, or gone while listed).
constexpr const char *kUnknownPort = "(unknown port)";

const char *accessName(PanelAccess access)
{
    switch (access) {
    case PanelAccess::Usable:
        return "usable";
    case PanelAccess::NoPermission:
        return "no permission";
    case PanelAccess::Busy:
        return "busy";
    case PanelAccess::Failed:
        return "failed";
    }
    return "";
}

// The first of the folders that holds the rule; empty when none does.
QString installedRule(const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QLatin1String(kUdevRuleName));
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

struct RuleVerdict
{
    const char *inForce; // "yes", "no" or "unknown"
    QString text;
};

// Whether the rule lets this user open the attached ControlPanels: only an open by a user other
// than root can tell.
RuleVerdict ruleInForce(const std::vector<AttachedPanel> &panels, bool installed, bool root,
                        const AccessSession &session)
{
    const auto any = [&panels](PanelAccess access) {
        return std::any_of(panels.begin(), panels.end(),
                           [access](const AttachedPanel &panel) { return panel.access == access; });
    };
    if (panels.empty())
        return {"unknown", QStringLiteral("unknown: no ControlPanel is attached to try")};
    if (root)
        return {"unknown", QStringLiteral("unknown: running as root, which opens the ControlPanel "
                                          "with or without the rule")};
    if (any(PanelAccess::NoPermission)) {
        if (!installed)
            return {"no", QStringLiteral("no: the rule is not installed")};
        if (needsGroup(session))
            return {"no", QStringLiteral("no: the rule is installed, but this session is neither "
                                         "at the seat nor in the %1 group")
                              .arg(QLatin1String(kAccessGroup))};
        return {"no", QStringLiteral("no: the rule is installed but not applied to the attached "
                                     "ControlPanel")};
    }
    if (any(PanelAccess::Usable))
        return {"yes", installed ? QStringLiteral("yes: the ControlPanel opens for this user")
                                 : QStringLiteral("yes: the ControlPanel opens for this user, "
                                                  "though not through the rule")};
    return {"unknown",
            QStringLiteral("unknown: the ControlPanel would not open for another reason")};
}

// "  name: value", or "  name:" alone for an empty value, with no space at the end of the line.
QString field(const char *name, const QString &value)
{
    return QStringLiteral("  %1:%2\n")
        .arg(QLatin1String(name), value.isEmpty() ? QString() : QLatin1Char(' ') + value);
}

// What the lock file of the unit's port tells: an update running now (its lock is held), an
// earlier one that ended after its bootloader entry without finishing, or a lock path that no
// update can use. Empty when none.
QString lastUpdate(const AttachedPanel &panel)
{
    if (panel.port.empty())
        return QString();
    const LockLook look = UnitLock::look(QString::fromStdString(panel.port));
    if (!look.problem.isEmpty())
        return look.problem;
    const std::optional<UnitMark> &mark = look.mark;
    const bool named = mark && !mark->finished && !mark->program.isEmpty();
    if (look.held && !named)
        return QStringLiteral("being updated by another program");
    if (!mark || mark->finished)
        return QString();
    const QString started = mark->started.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    // One arg() for every field: a field that holds a placeholder fills nothing.
    if (look.held)
        return QStringLiteral("being updated by %1 (process %2), started %3")
            .arg(printable(mark->program), QString::number(mark->process), started);
    const bool entered =
        !mark->phase.isEmpty() && mark->phase != QLatin1String(phaseName(UpdatePhase::Connecting));
    if (!entered)
        return QString();
    return QStringLiteral("the last update of the ControlPanel here, started %1, did not finish")
        .arg(started);
}

void printUnit(QTextStream &out, const AttachedPanel &panel)
{
    QString access = QLatin1String(accessName(panel.access));
    // The other kinds say it all; hidapi's words only add the path again.
    if (panel.access == PanelAccess::Failed)
        access += QStringLiteral(" (%1)").arg(printable(panel.reason));
    out << (panel.port.empty() ? QLatin1String(kUnknownPort) : printable(panel.port)) << '\n'
        << field("hidraw node", printable(panel.path))
        << field("serial number", printable(panel.serialNumber))
        << field("manufacturer", printable(panel.manufacturer))
        << field("product", printable(panel.product)) << field("access", access);
    const QString last = lastUpdate(panel);
    if (!last.isEmpty())
        out << field("update", last);
}

void writeUnitJson(QTextStream &out, const AttachedPanel &panel)
{
    writeJsonLine(out,
                  {{QStringLiteral("event"), QStringLiteral("device")},
                   {QStringLiteral("port"), QString::fromStdString(panel.port)},
                   {QStringLiteral("path"), QString::fromStdString(panel.path)},
                   {QStringLiteral("manufacturer"), QString::fromStdWString(panel.manufacturer)},
                   {QStringLiteral("product"), QString::fromStdWString(panel.product)},
                   {QStringLiteral("serialNumber"), QString::fromStdWString(panel.serialNumber)},
                   {QStringLiteral("access"), QLatin1String(accessName(panel.access))},
                   {QStringLiteral("reason"), QString::fromStdWString(panel.reason)},
                   {QStringLiteral("update"), lastUpdate(panel)}});
}

} // namespace

int runList(CliStreams &io, const UnitChoice &choice, bool json)
{
    std::vector<AttachedPanel> panels = surveyControlPanels();
    // Exact matches only, as an update chooses.
    panels.erase(std::remove_if(panels.begin(), panels.end(),
                                [&choice](const AttachedPanel &panel) {
                                    return (!choice.port.isEmpty() &&
                                            QString::fromStdString(panel.port) != choice.port) ||
                                           (!choice.serial.isEmpty() &&
                                            QString::fromStdWString(panel.serialNumber) !=
                                                choice.serial);
                                }),
                 panels.end());
    const QString rule = installedRule(io.udevRuleFolders);
    const AccessSession session = io.accessSession ? *io.accessSession : currentAccessSession();
    const RuleVerdict verdict = ruleInForce(panels, !rule.isEmpty(), io.runningAsRoot, session);
    const bool usable = std::any_of(panels.begin(), panels.end(), [](const AttachedPanel &panel) {
        return panel.access == PanelAccess::Usable;
    });
    const int code = usable ? kExitOk : kExitNoControlPanel;

    for (const AttachedPanel &panel : panels) {
        if (json)
            writeUnitJson(io.out, panel);
        else
            printUnit(io.out, panel);
    }
    const QString ruleText =
        rule.isEmpty()
            ? QStringLiteral("%1 is not installed in %2")
                  .arg(QLatin1String(kUdevRuleName), io.udevRuleFolders.join(QStringLiteral(", ")))
            : rule;
    if (json) {
        writeJsonLine(io.out, {{QStringLiteral("event"), QStringLiteral("result")},
                               {QStringLiteral("devices"), int(panels.size())},
                               {QStringLiteral("udevRule"), rule},
                               {QStringLiteral("udevRuleInForce"), QLatin1String(verdict.inForce)},
                               {QStringLiteral("exitCode"), code}});
    } else {
        if (panels.empty())
            io.out << "no ControlPanel attached\n";
        io.out << "udev rule: " << printable(ruleText) << '\n'
               << "udev rule in force: " << verdict.text << '\n';
        io.out.flush();
    }

    // What to do goes with the messages.
    if (panels.empty())
        io.err << kNoPanelText << '\n' << kNoPanelAdvice << '\n';
    const QString detail = unusablePanelsDetail(panels, session, !rule.isEmpty());
    if (!detail.isEmpty())
        io.err << detail << '\n';
    if (panels.size() > 1)
        io.err << kWarningPrefix << kSeveralPanelsText
               << ": an update takes one only when --port or --serial names it\n";
    io.err.flush();
    return code;
}
