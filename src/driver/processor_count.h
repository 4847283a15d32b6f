#pragma once

namespace ps {

// Logical processors of all active processor groups: 1 when the system call
// is missing or the size query fails, -1 when the filling call fails.
int getLogicalProcessorCount();

}  // namespace ps
