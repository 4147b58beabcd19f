#include "run/cores.hpp"

#include <sched.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace bf {
namespace {

// A whole number alone on its line (a trailing line end allowed).
std::optional<long long> whole_number(std::string_view s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
    s.remove_suffix(1);
  long long v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

std::optional<double> quota_of(std::optional<long long> quota, std::optional<long long> period) {
  if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
  return static_cast<double>(*quota) / static_cast<double>(*period);
}

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The process's own cgroup v2 directory under /sys/fs/cgroup ("0::/path" in
// /proc/self/cgroup); empty for the root.
std::string own_cgroup2() {
  const std::string text = file_text("/proc/self/cgroup");
  std::size_t at = text.compare(0, 4, "0::/") == 0 ? 0 : text.find("\n0::/");
  if (at == std::string::npos) return {};
  if (text[at] == '\n') ++at;
  const std::size_t from = at + 3, end = text.find('\n', from);
  std::string path(text, from, end == std::string::npos ? std::string::npos : end - from);
  while (!path.empty() && path.back() == '/')
    path.pop_back();
  return path;
}

// The smallest cgroup v2 quota from the process's cgroup up to the root.
std::optional<double> v2_quota() {
  std::optional<double> least;
  for (std::string dir = own_cgroup2();; dir.erase(dir.rfind('/'))) {
    const auto q = cgroup2_quota(file_text("/sys/fs/cgroup" + dir + "/cpu.max"));
    if (q && (!least || *q < *least)) least = q;
    if (dir.empty()) break;
  }
  return least;
}

std::optional<double> v1_quota() {
  for (const char* dir : {"/sys/fs/cgroup/cpu,cpuacct/", "/sys/fs/cgroup/cpu/"}) {
    const std::string d = dir;
    const auto q =
        cgroup1_quota(file_text(d + "cpu.cfs_quota_us"), file_text(d + "cpu.cfs_period_us"));
    if (q) return q;
  }
  return std::nullopt;
}

}  // namespace

std::optional<double> cgroup2_quota(std::string_view cpu_max) {
  const auto space = cpu_max.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  return quota_of(whole_number(cpu_max.substr(0, space)), whole_number(cpu_max.substr(space + 1)));
}

std::optional<double> cgroup1_quota(std::string_view quota_us, std::string_view period_us) {
  return quota_of(whole_number(quota_us), whole_number(period_us));
}

int cores_within(int affinity, std::optional<double> quota) {
  int cores = affinity;
  if (quota && std::ceil(*quota) < cores) cores = static_cast<int>(std::ceil(*quota));
  return cores < 1 ? 1 : cores;
}

int usable_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int affinity = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  std::optional<double> quota = v2_quota();
  if (!quota) quota = v1_quota();
  return cores_within(affinity, quota);
}

}  // namespace bf
