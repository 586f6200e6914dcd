#pragma once

#include <QString>

// zelupdate-cli --help: the usage of each verb, what each verb and option does, and the exit
// codes, all written from the verb table (CommandTable.h) and kExitCodeMeanings, wrapped to fit
// an 80-column terminal.
QString helpText();
