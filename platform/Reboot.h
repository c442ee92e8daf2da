#pragma once
// Asking the system to restart. On this platform that is systemd's reboot request; no
// privilege has to be enabled first. Tests install a handler, so nothing ever reboots.
#include <functional>

namespace Reboot {
// Returns false when the system refused the request.
bool Request();
void SetHandler(std::function<bool()> h);
} // namespace Reboot
