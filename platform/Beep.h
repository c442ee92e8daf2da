#pragma once
// The system sounds. Tests install a recorder, so nothing sounds and the calls can be counted.
#include <functional>

namespace Beep {
// The sound for a question (the Windows code 0x20).
inline constexpr unsigned Question = 0x20;
void MessageBeep(unsigned type);
void SetBeepHandler(std::function<void(unsigned)> h); // empty: the real sound again
} // namespace Beep
