// Task memory handed to callers, counted out and (through a malloc spy) counted back in.
#pragma once

#include <windows.h>

namespace quenlo::sim
{

// CoTaskMemAlloc that records the block as handed out; null when out of memory.
void* AllocTracked(SIZE_T cb);
// The spy is registered once per process; false when COM refused it.
bool TaskMemSpyActive();

} // namespace quenlo::sim
