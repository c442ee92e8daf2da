#pragma once
// Lowers the process to idle priority during long work and back; failures are ignored.
namespace Priority {
void SetIdle();
void SetNormal();
bool IsIdle();
} // namespace Priority
