#pragma once

// Texts of the command line's own; the update engine's are in UpdateTexts.h.

constexpr const char *kProgramName = "zelupdate-cli";
constexpr const char *kWarningPrefix = "warning: ";

// Formatted with the file and its line count.
constexpr const char *kNoEndRecordRefusal =
    "%1: no end-of-file record after %2 lines; the file may have been cut short "
    "(--allow-no-eof to write it anyway)";

constexpr const char *kUsageHint = "Try 'zelupdate-cli --help'.";

// Formatted with the number of ControlPanels attached and their ports.
constexpr const char *kSeveralUnitsText =
    "%1 ControlPanels are attached (%2): choose one with --port";
