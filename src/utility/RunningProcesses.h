#pragma once
// mdlRunningProcesses: process list, platform family and the event-pumping
// wait, on Linux.

#include <cstdint>

#include "quillmark/utility/Utility.h"
#include "quillmark/values/Variant.h"

namespace qm::mdlRunningProcesses {

/// Linux reports the NT family: the modern, multi-user one.
PlatformConstants GetWindowsPlatform();

/// The target of every readable /proc/<pid>/exe, in process-id order, as a
/// 0-based string array. Processes whose link cannot be read (kernel threads,
/// other users' processes) are left out without a message.
Variant GetRunningProcesses();

/// Waits `Milliseconds` on a steady clock, calling the desktop's DoEvents at
/// least once and then every few milliseconds until the time is over.
void DoEventsWait(std::int32_t Milliseconds);

}  // namespace qm::mdlRunningProcesses
