// How many cores the process may use: the CPUs its affinity allows, bounded by
// a CPU quota of its control group (a container's or a batch job's share).
#pragma once

#include <optional>
#include <string_view>

namespace bf {

// The cores the process may use, at least 1: the count of its CPU affinity
// set, bounded by the quota of its cgroup v2 (cpu.max) or v1
// (cpu.cfs_quota_us over cpu.cfs_period_us), rounded up.
int usable_cores();

// The quota in cores that a cgroup v2 "cpu.max" file gives ("200000 100000":
// 2), none for "max" or text that is not a quota.
std::optional<double> cgroup2_quota(std::string_view cpu_max);

// The same from the v1 files' contents: cpu.cfs_quota_us ("-1": none) and
// cpu.cfs_period_us.
std::optional<double> cgroup1_quota(std::string_view quota_us, std::string_view period_us);

// `affinity` cores bounded by a quota of cores, rounded up; at least 1.
int cores_within(int affinity, std::optional<double> quota);

}  // namespace bf
