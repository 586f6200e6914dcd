#include "ConnectionAdvice.h"

#include "Printable.h"

#include "UpdateTexts.h"

#include <QStringList>

#include <algorithm>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// Set by pam_systemd for a session that has a seat; SSH sessions and services have none.
constexpr const char *kSeatVariable = "XDG_SEAT";
// OpenSSH sets these in the sessions it starts; one is enough to be beyond the seat.
constexpr const char *kSshVariables[] = {"SSH_CONNECTION", "SSH_CLIENT", "SSH_TTY"};

QString deviceName(const AttachedPanel &panel)
{
    QString name = QString::fromStdWString(panel.manufacturer);
    const QString product = QString::fromStdWString(panel.product);
    if (!product.isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(" ")) + product;
    return printable(name);
}

QString withSerialNumber(QString text, const AttachedPanel &panel)
{
    if (!panel.serialNumber.empty())
        text += QStringLiteral(", serial number %1")
                    .arg(printable(QString::fromStdWString(panel.serialNumber)));
    return text;
}

bool processHolds(gid_t group)
{
    if (::getegid() == group)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = ::getgroups(count, groups.data());
    return filled > 0 &&
           std::find(groups.begin(), groups.begin() + filled, group) != groups.begin() + filled;
}

bool listsMember(const group &entry, const char *user)
{
    for (char *const *member = entry.gr_mem; member && *member; ++member) {
        if (qstrcmp(*member, user) == 0)
            return true;
    }
    return false;
}

QString detail(const std::vector<AttachedPanel> &panels,
               QString (*describe)(const AttachedPanel &panel), const QString &noPermissionText)
{
    QStringList parts;
    for (const AttachedPanel &panel : panels) {
        switch (panel.access) {
        case PanelAccess::Usable:
            break;
        case PanelAccess::NoPermission:
            parts << QStringLiteral("%1: %2.\n%3")
                         .arg(describe(panel), QLatin1String(kNoPermissionText), noPermissionText);
            break;
        case PanelAccess::Busy:
            parts << QStringLiteral("%1: %2.\n%3")
                         .arg(describe(panel), QLatin1String(kBusyText),
                              QLatin1String(kBusyAdvice));
            break;
        case PanelAccess::Failed:
            parts << QStringLiteral("%1: %2").arg(describe(panel),
                                                  printable(QString::fromStdWString(panel.reason)));
            break;
        }
    }
    return parts.join(QStringLiteral("\n\n"));
}

} // namespace

AccessSession currentAccessSession()
{
    AccessSession session;
    const bool overSsh =
        std::any_of(std::begin(kSshVariables), std::end(kSshVariables),
                    [](const char *name) { return qEnvironmentVariableIsSet(name); });
    session.atSeat = !overSsh && !qEnvironmentVariableIsEmpty(kSeatVariable);

    const passwd *account = ::getpwuid(::geteuid());
    if (account)
        session.user = QString::fromLocal8Bit(account->pw_name);
    const group *entry = ::getgrnam(kAccessGroup);
    if (!entry)
        return session;
    session.inGroup = processHolds(entry->gr_gid);
    session.groupListed =
        account && (account->pw_gid == entry->gr_gid || listsMember(*entry, account->pw_name));
    return session;
}

bool needsGroup(const AccessSession &session)
{
    return !session.atSeat && !session.inGroup;
}

QString noPermissionAdvice(const AccessSession &session, bool ruleInstalled)
{
    QStringList advice;
    // At the seat the rule alone lets the user in; in the group, only a rule that is not in force
    // keeps them out.
    if (!ruleInstalled || !needsGroup(session))
        advice << QLatin1String(kNoPermissionAdvice);
    if (needsGroup(session)) {
        const QString user =
            session.user.isEmpty() ? QLatin1String(kUserPlaceholder) : printable(session.user);
        advice << QString::fromLatin1(session.groupListed ? kLogInAgainAdvice : kJoinGroupAdvice)
                      .arg(user, QLatin1String(kAccessGroup));
    }
    return advice.join(QLatin1Char('\n'));
}

QString describePanel(const AttachedPanel &panel)
{
    QString text = printable(QString::fromStdString(panel.path));
    const QString name = deviceName(panel);
    if (!name.isEmpty())
        text += QStringLiteral(" (%1)").arg(name);
    return withSerialNumber(text, panel);
}

QString describeUnit(const AttachedPanel &panel)
{
    if (panel.port.empty())
        return describePanel(panel);
    const QString name = deviceName(panel);
    QString text = QStringLiteral("%1 (%2%3)")
                       .arg(printable(QString::fromStdString(panel.port)),
                            printable(QString::fromStdString(panel.path)),
                            name.isEmpty() ? QString() : QStringLiteral(", ") + name);
    return withSerialNumber(text, panel);
}

QString unusablePanelsDetail(const std::vector<AttachedPanel> &panels)
{
    return detail(panels, describePanel, QLatin1String(kNoPermissionAdvice));
}

QString unusablePanelsDetail(const std::vector<AttachedPanel> &panels, const AccessSession &session,
                             bool ruleInstalled)
{
    return detail(panels, describeUnit, noPermissionAdvice(session, ruleInstalled));
}

ConnectionProblem choiceProblem(UnitSelection::Verdict verdict, const UnitChoice &choice,
                                const QString &ports)
{
    ConnectionProblem problem;
    problem.ports = ports;
    if (verdict == UnitSelection::Verdict::Several) {
        problem.kind = ConnectionProblem::Kind::SeveralPanels;
        problem.text = kSeveralPanelsText;
        problem.advice = kSeveralPanelsAdvice;
        return problem;
    }
    problem.kind = ConnectionProblem::Kind::NotAttached;
    problem.text = choice.port.isEmpty()
                       ? QString::fromLatin1(kNoPanelWithSerialText).arg(choice.serial)
                       : QString::fromLatin1(kNoPanelAtPortText).arg(choice.port);
    problem.advice = kNoPanelAdvice;
    return problem;
}

QString unfinishedUpdateText(const QString &port, const std::optional<UnitMark> &earlier)
{
    if (!earlier || !earlier->unfinishedPastEntry())
        return QString();
    return QString::fromLatin1(kUnfinishedText)
        .arg(port, earlier->started.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

QString busyDetail(const QString &port, const std::optional<UnitMark> &holder)
{
    // One arg() for every field: a field that holds a placeholder fills nothing.
    if (!holder || holder->program.isEmpty())
        return QString::fromLatin1(kUnitBusyUnknownDetail).arg(printable(port));
    return QString::fromLatin1(kUnitBusyDetail)
        .arg(printable(port), printable(holder->program), QString::number(holder->process));
}
