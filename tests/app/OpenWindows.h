#pragma once

#include <QStringList>

// The class names of the top-level windows still visible. A test's cleanup() requires none: a
// window left open is a dialog that leaked from the code under test or from the test itself.
QStringList visibleTopLevelWindows();
