#pragma once
// The end of the user's session. Desktops with session management ask through Qt's commit-data
// request; elsewhere a logoff or shutdown arrives as SIGTERM (or SIGHUP when the terminal
// goes). Both are turned into one call in the event loop, so the program can save and close.
#include <functional>

namespace SessionEnd {
// Installs the signal handlers once; the handler runs in the event loop, not in the signal.
// An empty function detaches the current handler (the signals are then ignored until the
// next one is set).
void SetHandler(std::function<void()> handler);
} // namespace SessionEnd
