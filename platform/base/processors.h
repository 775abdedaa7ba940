// How many processors this process may run on. Plain C++.
#pragma once

namespace platform {

// The processors in this process's affinity mask (what taskset or a container allows), else the
// machine's; at least 1.
int processorCount();

}  // namespace platform
