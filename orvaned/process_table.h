// What /proc tells about processes that need not be this service's children: whether one still
// runs, when it started, and whether a process group has a running member. A zombie counts as
// ended: a process that is not our child is reaped by someone else, or, under an init that
// never reaps, never.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace orv::service {

// A process's start time in clock ticks since boot. With the process id it names one process
// for the whole uptime, as a process id alone does not once ids are reused.
using StartTime = std::uint64_t;

// The start time of a process that runs now; nullopt when it is gone or a zombie.
std::optional<StartTime> start_time_of_running_process(pid_t pid);

// True while a process of the group runs (zombies aside).
bool group_has_running_member(pid_t group);

}  // namespace orv::service
