#pragma once
// The CPU quota of the process's own cgroup, in whole processors, which
// bounds the executor's thread count.
//
// /proc/self/cgroup names the process's group in each hierarchy, relative to
// the hierarchy's root; /proc/self/mountinfo says where each hierarchy is
// mounted and which sub-tree of it the mount shows (a container often sees
// its own group mounted as the root). The quota is read in the group's folder
// and in every folder above it up to the mount point, and the smallest is
// taken: a group gets no more than any group it lies in.
//
// - cgroup v2 (the "0::" line, a "cgroup2" mount): cpu.max holds
//   "max 100000" (no quota) or "150000 100000" (quota and period, in µs).
// - cgroup v1 (the line whose controllers include "cpu", a "cgroup" mount
//   with the cpu option): cpu.cfs_quota_us (-1: no quota) and
//   cpu.cfs_period_us.
// Both hierarchies are read and the smaller quota wins. On a hybrid host the
// cpu controller sits on one of them only, and the other has no quota files.

#include <string>
#include <string_view>

namespace qm::io {

/// The quota in whole processors, rounded up; 0 when none is set. `cgroup`
/// and `mountinfo` are the contents of /proc/self/cgroup and
/// /proc/self/mountinfo; the quota files are read under `root` ("" for this
/// system, a folder holding a copy of the mounted trees for tests). Missing,
/// unreadable or garbled files count as no quota, never as an error.
unsigned CgroupCpuQuota(std::string_view cgroup, std::string_view mountinfo, const std::string& root) noexcept;

/// The same for this process, from its own /proc files.
unsigned CgroupCpuQuota() noexcept;

}  // namespace qm::io
