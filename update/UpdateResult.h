#pragma once

#include <QString>

// What a programmer reports: empty on success, otherwise the first error it met.
using UpdateResult = QString;

constexpr const char *kUsbError = "USB communication error";
constexpr const char *kProgrammingError = "USB communication error during programming";
constexpr const char *kVerificationError = "USB communication error during verification";
constexpr const char *kBootExitError = "USB communication error during boot exit";
