#include "ListCommand.h"

#include "CliTexts.h"
#include "ConnectionAdvice.h"
#include "ControlPanelSurvey.h"
#include "EscapedText.h"
#include "ExitCodes.h"
#include "ResultOutput.h"
#include "UpdateTexts.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

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
RuleVerdict ruleInForce(const std::vector<AttachedPanel> &panels, bool installed, bool root)
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
    if (any(PanelAccess::NoPermission))
        return {"no", installed ? QStringLiteral("no: the rule is installed but not applied to the "
                                                 "attached ControlPanel")
                                : QStringLiteral("no: the rule is not installed")};
    if (any(PanelAccess::Usable))
        return {"yes", installed ? QStringLiteral("yes: the ControlPanel opens for this user")
                                 : QStringLiteral("yes: the ControlPanel opens for this user, "
                                                  "though not through the rule")};
    return {"unknown",
            QStringLiteral("unknown: the ControlPanel would not open for another reason")};
}

} // namespace

int runList(CliStreams &io, bool json)
{
    const std::vector<AttachedPanel> panels = surveyControlPanels();
    const QString rule = installedRule(io.udevRuleFolders);
    const RuleVerdict verdict = ruleInForce(panels, !rule.isEmpty(), io.runningAsRoot);
    const bool usable = std::any_of(panels.begin(), panels.end(), [](const AttachedPanel &panel) {
        return panel.access == PanelAccess::Usable;
    });
    const int code = usable ? kExitOk : kExitNoControlPanel;

    for (const AttachedPanel &panel : panels) {
        const QString reason = QString::fromStdWString(panel.reason);
        if (json) {
            writeJsonLine(
                io.out,
                {{QStringLiteral("event"), QStringLiteral("device")},
                 {QStringLiteral("path"), QString::fromStdString(panel.path)},
                 {QStringLiteral("manufacturer"), QString::fromStdWString(panel.manufacturer)},
                 {QStringLiteral("product"), QString::fromStdWString(panel.product)},
                 {QStringLiteral("serialNumber"), QString::fromStdWString(panel.serialNumber)},
                 {QStringLiteral("access"), QLatin1String(accessName(panel.access))},
                 {QStringLiteral("reason"), reason}});
            continue;
        }
        io.out << escapedText(QString::fromStdString(panel.path)) << '\n'
               << "  manufacturer: " << escapedText(QString::fromStdWString(panel.manufacturer))
               << '\n'
               << "  product: " << escapedText(QString::fromStdWString(panel.product)) << '\n'
               << "  serial number: " << escapedText(QString::fromStdWString(panel.serialNumber))
               << '\n'
               << "  access: "
               << accessName(panel.access)
               // The other kinds say it all; hidapi's words only add the path again.
               << (panel.access == PanelAccess::Failed
                       ? QStringLiteral(" (%1)").arg(escapedText(reason))
                       : QString())
               << '\n';
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
        io.out << "udev rule: " << escapedText(ruleText) << '\n'
               << "udev rule in force: " << verdict.text << '\n';
        io.out.flush();
    }

    // What to do goes with the messages.
    if (panels.empty())
        io.err << kNoPanelText << '\n' << kNoPanelAdvice << '\n';
    const QString detail = unusablePanelsDetail(panels);
    if (!detail.isEmpty())
        io.err << escapedLines(detail) << '\n';
    if (panels.size() > 1)
        io.err << kWarningPrefix << kSeveralPanelsText << ": an update takes none of them. "
               << kSeveralPanelsAdvice << '\n';
    io.err.flush();
    return code;
}
