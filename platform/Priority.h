#pragma once
// Lowers the calling thread to the lowest priority during long work and back; failures are
// ignored. On this platform a thread without the privilege cannot get its priority back once
// it lowered it, so it is lowered only where it can return: otherwise the work runs at normal
// priority instead of leaving the program at the lowest one for good.
namespace Priority {
// The lowest scheduling priority (nice value) on this platform.
constexpr int IdleNice = 19;

void SetIdle();
// Back to the priority SetIdle found, for the thread SetIdle lowered.
void SetNormal();
// Between SetIdle and SetNormal.
bool IsIdle();
} // namespace Priority
