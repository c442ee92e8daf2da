#pragma once
// Whether the desktop has a tray host that shows the program's icon. Without one, a window
// hidden "in the tray" could not be brought back, so it is minimised to the task bar instead.
#include <optional>

namespace Tray {
bool Available();
// Tests fix the answer; std::nullopt asks the platform again.
void SetAvailable(std::optional<bool> answer);
} // namespace Tray
