#pragma once

// Shows the main window until the event loop ends and returns the loop's exit code. The window
// is destroyed before this returns, so the connection is released while the QApplication, which
// the caller must have created, still exists.
int runMainWindow();
