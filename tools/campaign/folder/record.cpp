#include "campaign/folder/record.hpp"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "textio/wholefile.hpp"

namespace campaign {

namespace {

using nlohmann::json;

constexpr std::string_view kFormat = "beamfall-campaign-record";

json stamp_json(const FileStamp& f) {
  json j = {{"name", f.name}, {"exists", f.exists}};
  if (f.exists) {
    j["size"] = f.size;
    j["mtime_ns"] = f.mtime_ns;
  }
  return j;
}

json stamps_json(const std::vector<FileStamp>& files) {
  json a = json::array();
  for (const FileStamp& f : files)
    a.push_back(stamp_json(f));
  return a;
}

json options_json(const LineOptions& o) {
  json j = {{"las", o.las}, {"quicklook", o.quicklook}, {"roll0", o.roll0}};
  if (o.las) {
    j["line_id"] = o.line_id;
    j["date"] = o.date;
  }
  // Written only when used, so that the records of runs without them read as before.
  if (o.rigorous) j["rigorous"] = true;
  if (!o.boresight.empty()) j["boresight"] = o.boresight;
  if (!o.range_offset.empty()) j["range_offset"] = o.range_offset;
  if (!o.uncertainty.empty()) j["uncertainty"] = o.uncertainty;
  if (o.threads != 1) j["threads"] = o.threads;
  return j;
}

// json::at and get throw on a missing member or a wrong type: the record is then not one.
// Whole numbers are checked first: get<int> would cast a fraction or 1e300 unchecked.
std::int64_t whole(const json& j, const char* key) {
  const json& v = j.at(key);
  if (v.is_number_unsigned() && v.get<std::uint64_t>() > INT64_MAX)
    throw std::invalid_argument("number out of range");
  if (!v.is_number_integer()) throw std::invalid_argument("not a whole number");
  return v.get<std::int64_t>();
}

int small_whole(const json& j, const char* key) {
  const std::int64_t v = whole(j, key);
  if (v < INT32_MIN || v > INT32_MAX) throw std::invalid_argument("number out of range");
  return static_cast<int>(v);
}

FileStamp stamp_from(const json& j) {
  FileStamp f;
  f.name = j.at("name").get<std::string>();
  f.exists = j.at("exists").get<bool>();
  if (f.exists) {
    f.size = whole(j, "size");
    f.mtime_ns = whole(j, "mtime_ns");
  }
  return f;
}

std::vector<FileStamp> stamps_from(const json& j) {
  std::vector<FileStamp> files;
  for (const json& f : j.get_ref<const json::array_t&>())
    files.push_back(stamp_from(f));
  return files;
}

LineOptions options_from(const json& j) {
  LineOptions o;
  o.las = j.at("las").get<bool>();
  o.quicklook = j.at("quicklook").get<bool>();
  o.roll0 = j.at("roll0").get<std::string>();
  if (o.las) {
    o.line_id = small_whole(j, "line_id");
    o.date = j.at("date").get<std::string>();
  }
  if (j.contains("rigorous")) o.rigorous = j.at("rigorous").get<bool>();
  if (j.contains("boresight")) o.boresight = j.at("boresight").get<std::string>();
  if (j.contains("range_offset")) o.range_offset = j.at("range_offset").get<std::string>();
  if (j.contains("uncertainty"))
    o.uncertainty = j.at("uncertainty").get<std::vector<std::string>>();
  if (j.contains("threads")) o.threads = small_whole(j, "threads");
  return o;
}

LineRecord record_from(const json& j) {
  if (j.at("format").get<std::string>() != kFormat || whole(j, "version") != kRecordVersion)
    throw std::invalid_argument("not a record of this version");
  LineRecord r;
  r.status = small_whole(j, "status");
  r.seconds = j.at("seconds").get<double>();
  r.options = options_from(j.at("options"));
  r.binary = stamp_from(j.at("binary"));
  r.inputs = stamps_from(j.at("inputs"));
  r.outputs = stamps_from(j.at("outputs"));
  r.manifest = j.at("manifest");
  if (!r.manifest.is_null() && !r.manifest.is_object())
    throw std::invalid_argument("manifest not an object");
  return r;
}

}  // namespace

std::string write_record(const LineRecord& r) {
  const json j = {{"format", kFormat},
                  {"version", kRecordVersion},
                  {"status", r.status},
                  {"seconds", r.seconds},
                  {"options", options_json(r.options)},
                  {"binary", stamp_json(r.binary)},
                  {"inputs", stamps_json(r.inputs)},
                  {"outputs", stamps_json(r.outputs)},
                  {"manifest", r.manifest}};
  // Names are bytes from the file system, not necessarily UTF-8: replace what is not, so the
  // record is always written (a name that changes this way only makes the line run again).
  return j.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<LineRecord> read_record(std::string_view text) {
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  try {
    return record_from(j);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<LineRecord> load_record(const std::string& line_dir) {
  std::ifstream in(line_dir + "/" + kRecordName, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return read_record(text.str());
}

void save_record(const std::string& line_dir, const LineRecord& r) {
  bf::WholeFile out;
  out.open(line_dir + "/" + kRecordName);
  out.commit(write_record(r));
}

FileStamp stamp_file(const std::string& base, const std::string& name) {
  FileStamp f;
  f.name = name;
  const std::string path = !name.empty() && name[0] == '/' ? name : base + "/" + name;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return f;
  f.exists = true;
  f.size = st.st_size;
  f.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  return f;
}

}  // namespace campaign
