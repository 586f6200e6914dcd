#pragma once

#include "UpdateTexts.h"

#include <QString>

// What a programmer reports: empty on success, otherwise the first error it met.
using UpdateResult = QString;
