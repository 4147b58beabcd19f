#include "run_options.hpp"

#include <charconv>

#include "lines.hpp"
#include "run/options.hpp"

namespace campaign {

namespace {

bool positive_count(const std::string& s, int& v) {
  if (s.empty() || s[0] < '1' || s[0] > '9') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size();
}

// The value after an option; `what` is the message when there is none or it is not good.
template <class Check>
std::string value_of(const std::vector<std::string>& args, std::size_t& k, const char* what,
                     Check good) {
  if (k + 1 >= args.size() || !good(args[k + 1])) throw UsageError(what);
  return args[++k];
}

// A value of one of beamfall's own options, checked by beamfall's parser so that the campaign
// takes exactly what beamfall takes, with beamfall's message.
std::string beamfall_value(const std::vector<std::string>& args, std::size_t& k) {
  const std::string& name = args[k];
  if (k + 1 >= args.size()) throw UsageError(name + " needs a value");
  const std::string& value = args[++k];
  const char* const one[] = {name.c_str(), value.c_str()};
  try {
    bf::parse_options(one);
  } catch (const bf::UsageError& e) {
    throw UsageError(e.what());
  }
  return value;
}

}  // namespace

RunOptions parse_run_options(const std::vector<std::string>& args) {
  RunOptions o;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (a == "--jobs") {
      value_of(args, k, "--jobs needs a positive count",
               [&](const std::string& v) { return positive_count(v, o.jobs); });
    } else if (a == "--las") {
      o.las = true;
    } else if (a == "--date") {
      o.date = value_of(args, k, "--date needs a date YYYY-MM-DD", valid_date);
    } else if (a == "--quicklook") {
      o.quicklook = true;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--roll0") {
      o.roll0 = beamfall_value(args, k);
    } else if (a == "--rigorous") {
      o.rigorous = true;
    } else if (a == "--boresight") {
      o.boresight = beamfall_value(args, k);
    } else if (a == "--range-offset") {
      o.range_offset = beamfall_value(args, k);
    } else if (a == "--slurm") {
      o.slurm = true;
    } else if (a == "--partition") {
      o.partition = value_of(args, k, "--partition needs a name",
                             [](const std::string& v) { return !v.empty(); });
    } else if (a == "--max-running") {
      value_of(args, k, "--max-running needs a count",
               [&](const std::string& v) { return positive_count(v, o.max_running); });
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError("unknown option '" + a + "'");
    } else if (!o.dir.empty()) {
      throw UsageError("one campaign folder only ('" + o.dir + "', '" + a + "')");
    } else {
      o.dir = a;
    }
  }
  if (o.dir.empty()) throw UsageError("run needs a campaign folder");
  if (!o.slurm && (!o.partition.empty() || o.max_running != 0))
    throw UsageError("--partition and --max-running go with --slurm");
  return o;
}

std::vector<std::string> task_arguments(const TaskSettings& s) {
  std::vector<std::string> a = {"--dir", s.campaign_dir, "--beamfall", s.beamfall};
  if (s.las) a.push_back("--las");
  if (s.quicklook) a.insert(a.end(), {"--quicklook", s.quicklook_program});
  if (!s.roll0.empty()) a.insert(a.end(), {"--roll0", s.roll0});
  if (s.rigorous) a.push_back("--rigorous");
  if (!s.boresight.empty()) a.insert(a.end(), {"--boresight", s.boresight});
  if (!s.range_offset.empty()) a.insert(a.end(), {"--range-offset", s.range_offset});
  if (s.quiet) a.push_back("--quiet");
  a.push_back("--");  // then the line's name, which may look like an option
  return a;
}

TaskSettings parse_task_arguments(const std::vector<std::string>& args,
                                  std::vector<std::string>& rest) {
  TaskSettings s;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& a = args[k];
    const auto value = [&]() -> std::string {
      if (k + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++k];
    };
    if (a == "--") {
      rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(k) + 1, args.end());
      break;
    } else if (a == "--dir") {
      s.campaign_dir = value();
    } else if (a == "--beamfall") {
      s.beamfall = value();
    } else if (a == "--las") {
      s.las = true;
    } else if (a == "--quicklook") {
      s.quicklook = true;
      s.quicklook_program = value();
    } else if (a == "--roll0") {
      s.roll0 = value();
    } else if (a == "--rigorous") {
      s.rigorous = true;
    } else if (a == "--boresight") {
      s.boresight = value();
    } else if (a == "--range-offset") {
      s.range_offset = value();
    } else if (a == "--quiet") {
      s.quiet = true;
    } else {
      rest.push_back(a);
    }
  }
  if (s.campaign_dir.empty() || s.beamfall.empty())
    throw UsageError("a task needs --dir and --beamfall");
  return s;
}

}  // namespace campaign
