#pragma once

#include "AccessSession.h"
#include "ControlPanelSurvey.h"
#include "SequenceHost.h"
#include "UnitLock.h"
#include "UnitSelection.h"

#include <QString>

#include <vector>

// This process's session: at a seat when pam_systemd named one (XDG_SEAT) and no SSH variable is
// set; its groups from the process and from the group database.
AccessSession currentAccessSession();

// What to do when this user may not open an attached ControlPanel: install or reload the rule,
// join the group, or log in again, or the rule first and then the group when both are missing.
// `ruleInstalled` is whether the rule's file is in one of udev's folders.
QString noPermissionAdvice(const AccessSession &session, bool ruleInstalled);

// Whether joining the group (or logging in again after joining) is what this session lacks: it
// is not at the seat and its process does not hold the group.
bool needsGroup(const AccessSession &session);

// A line naming the device: its node, what it calls itself and its serial number.
QString describePanel(const AttachedPanel &panel);

// The same, headed by the USB port that names the unit; the node alone when the port is unknown.
QString describeUnit(const AttachedPanel &panel);

// For each attached ControlPanel that cannot be opened: which one, why, and what to do. Empty
// when every attached one can be opened (or none is attached). Without a session, the advice for
// no permission is the seat's: install or reload the rule.
QString unusablePanelsDetail(const std::vector<AttachedPanel> &panels);

// The same, each unit named by its port, the advice for no permission chosen for `session`.
QString unusablePanelsDetail(const std::vector<AttachedPanel> &panels, const AccessSession &session,
                             bool ruleInstalled);

// Why the units attached (named by `ports`) hold none that the choice can take: the one chosen is
// not among them (NotAttached), or several are and none was chosen (Several).
ConnectionProblem choiceProblem(UnitSelection::Verdict verdict, const UnitChoice &choice,
                                const QString &ports);

// What the user must know of an earlier update of the unit at the port that did not finish after
// its bootloader entry, as the lock file's mark found when the lock was taken says: the unit may
// still run a bootloader. Empty for any other mark: finished, or left before the entry.
QString unfinishedUpdateText(const QString &port, const std::optional<UnitMark> &earlier);

// Which program updates the unit at the port, as its lock file says; "another program" when the
// holder has not said. The port and the program are shown escaped.
QString busyDetail(const QString &port, const std::optional<UnitMark> &holder);
