#include "run_options.hpp"

#include <charconv>
#include <filesystem>

#include "campaign/folder/lines.hpp"
#include "kit/command_line.hpp"
#include "run/session.hpp"

namespace campaign {

namespace {

bool positive_count(const std::string& s, int& v) {
  if (s.empty() || s[0] < '1' || s[0] > '9') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size();
}

// A value of one of beamfall's own options, checked by beamfall's parser so that the campaign
// takes exactly what beamfall takes, with beamfall's message.
kit::OptionSetter beamfall_value(const char* name, std::string& field) {
  return [name, &field](const std::string& value) {
    if (const auto error = bf::option_value_error(name, value)) throw kit::UsageError(*error);
    field = value;
    return true;
  };
}

bool names_file(const std::string& option) {
  return option == "--calibration" || option == "--sigma-trajectory";
}

// One of the options passed on as they are: checked by beamfall's parser, a file name made
// absolute (each line runs in its own folder).
kit::OptionSetter uncertainty_value(const char* name, std::vector<std::string>& words) {
  return [name, &words](const std::string& value) {
    if (const auto error = bf::option_value_error(name, value)) throw kit::UsageError(*error);
    words.insert(words.end(),
                 {name, names_file(name) ? std::filesystem::absolute(value).string() : value});
    return true;
  };
}

// The noise model is whole and goes to a LAS file: checked as beamfall checks it.
void check_uncertainty(const RunOptions& o) {
  if (o.uncertainty.empty()) return;
  std::vector<std::string> words = o.uncertainty;
  if (o.las) words.insert(words.end(), {"--las", "points.las", "--date", "2000-01-01"});
  if (!o.boresight.empty()) words.insert(words.end(), {"--boresight", o.boresight});
  if (!o.range_offset.empty()) words.insert(words.end(), {"--range-offset", o.range_offset});
  if (const auto error = bf::options_error(words)) throw kit::UsageError(*error);
}

kit::OptionSetter positive(int& field) {
  return [&field](const std::string& v) { return positive_count(v, field); };
}

// --threads, checked by beamfall's parser.
kit::OptionSetter beamfall_threads(int& field) {
  return [&field](const std::string& value) {
    if (const auto error = bf::option_value_error("--threads", value))
      throw kit::UsageError(*error);
    return positive_count(value, field);
  };
}

std::string folder_of(const std::vector<std::string>& positional) {
  if (positional.empty()) throw kit::UsageError("run needs a campaign folder");
  if (positional.size() > 1)
    throw kit::UsageError("one campaign folder only ('" + positional[0] + "', '" + positional[1] +
                          "')");
  return positional[0];
}

}  // namespace

RunOptions parse_run_options(const std::vector<std::string>& args) {
  RunOptions o;
  const auto count = [](int& field) {
    return [&field](const std::string& v) { return positive_count(v, field); };
  };
  std::vector<kit::Option> option_table = {
      {"--jobs", "", true, count(o.jobs), "a positive count"},
      {"--las", "", false, kit::flag(o.las)},
      {"--date", "", true,
       [&](const std::string& v) {
         o.date = v;
         return valid_date(v);
       },
       "a date YYYY-MM-DD"},
      {"--quicklook", "", false, kit::flag(o.quicklook)},
      {"--force", "", false, kit::flag(o.force)},
      {"--roll0", "", true, beamfall_value("--roll0", o.roll0)},
      {"--rigorous", "", false, kit::flag(o.rigorous)},
      {"--boresight", "", true, beamfall_value("--boresight", o.boresight)},
      {"--range-offset", "", true, beamfall_value("--range-offset", o.range_offset)},
      {"--slurm", "", false, kit::flag(o.slurm)},
      {"--partition", "", true, kit::store_nonempty(o.partition), "a name"},
      {"--max-running", "", true, count(o.max_running), "a count"},
      {"--threads", "", true, beamfall_threads(o.threads)}};
  for (const char* name : kUncertaintyOptions)
    option_table.push_back({name, "", true, uncertainty_value(name, o.uncertainty)});
  o.dir = folder_of(kit::parse_command_line(args, std::span<const kit::Option>(option_table)));
  check_uncertainty(o);
  if (!o.slurm && (!o.partition.empty() || o.max_running != 0))
    throw kit::UsageError("--partition and --max-running go with --slurm");
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
  a.insert(a.end(), s.uncertainty.begin(), s.uncertainty.end());
  a.insert(a.end(), {"--threads", std::to_string(s.threads)});
  if (s.quiet) a.push_back("--quiet");
  a.push_back("--");  // then the line's name, which may look like an option
  return a;
}

TaskSettings parse_task_arguments(const std::vector<std::string>& args,
                                  std::vector<std::string>& rest) {
  TaskSettings s;
  std::vector<kit::Option> option_table = {{"--dir", "", true, kit::store(s.campaign_dir)},
                                    {"--beamfall", "", true, kit::store(s.beamfall)},
                                    {"--las", "", false, kit::flag(s.las)},
                                    {"--quicklook", "", true,
                                     [&](const std::string& v) {
                                       s.quicklook_program = v;
                                       return s.quicklook = true;
                                     }},
                                    {"--roll0", "", true, kit::store(s.roll0)},
                                    {"--rigorous", "", false, kit::flag(s.rigorous)},
                                    {"--boresight", "", true, kit::store(s.boresight)},
                                    {"--range-offset", "", true, kit::store(s.range_offset)},
                                    {"--threads", "", true, positive(s.threads)},
                                    {"--quiet", "", false, kit::flag(s.quiet)}};
  for (const char* name : kUncertaintyOptions)
    option_table.push_back({name, "", true, [name, &s](const std::string& v) {
                       s.uncertainty.insert(s.uncertainty.end(), {name, v});
                       return true;
                     }});
  rest = kit::parse_command_line(args, std::span<const kit::Option>(option_table));
  if (s.campaign_dir.empty() || s.beamfall.empty())
    throw kit::UsageError("a task needs --dir and --beamfall");
  return s;
}

}  // namespace campaign
