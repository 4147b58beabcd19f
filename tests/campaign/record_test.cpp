// The line record's codec: what it writes it reads back whole; anything else (corrupt text,
// another version, a field missing or of the wrong type) is no record, so the line runs
// again, and never a crash.
#include "campaign/folder/record.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "campaign/folder/lines.hpp"
#include "line_task.hpp"

namespace campaign {
namespace {

using nlohmann::json;

LineRecord sample_record() {
  LineRecord r;
  r.status = 0;
  r.seconds = 12.3456789;
  r.options = {true,
               65535,
               "2026-06-01",
               "1.5D0",
               true,
               true,
               "0.1,-0.1,+2e-1",
               "-0.03",
               {"--calibration", "/data/calibration.json", "--sigma-range", "0.02"}};
  r.binary = {"/opt/beamfall bin/beamfall", true, 1234567, 1796908074147983119};
  r.inputs = {{"deck", true, 210, 1796908074000000000},
              {"line \"02\"\t$(touch pwned)\n", true, 0, -5},
              {"/data/geoid.grid", false, 0, 0}};
  r.outputs = {{"report.txt", true, 4096, 1796908075000000001}};
  r.manifest = {{"format", "beamfall-manifest"}, {"version", 1}, {"status", 0}};
  return r;
}

bool same(const LineRecord& a, const LineRecord& b) {
  return a.status == b.status && a.seconds == b.seconds && a.options == b.options &&
         a.binary == b.binary && a.inputs == b.inputs && a.outputs == b.outputs &&
         a.manifest == b.manifest;
}

TEST(LineRecord, ReadsBackWhatItWrites) {
  const LineRecord r = sample_record();
  const std::optional<LineRecord> back = read_record(write_record(r));
  ASSERT_TRUE(back);
  EXPECT_TRUE(same(*back, r));
  // A failed line without a manifest, options off.
  LineRecord failed;
  failed.status = 143;
  failed.binary = {"beamfall", false, 0, 0};
  const std::optional<LineRecord> back_failed = read_record(write_record(failed));
  ASSERT_TRUE(back_failed);
  EXPECT_TRUE(same(*back_failed, failed));
}

// The sensor options are written only when used: a record of a run without them reads the
// same with or without their keys, and differs from one of a run with them.
TEST(LineRecord, SensorOptionsOnlyWhenUsed) {
  LineRecord plain = sample_record();
  plain.options.rigorous = false;
  plain.options.boresight.clear();
  plain.options.range_offset.clear();
  plain.options.uncertainty.clear();
  const json j = json::parse(write_record(plain));
  for (const char* key : {"rigorous", "boresight", "range_offset", "uncertainty"})
    EXPECT_FALSE(j.at("options").contains(key)) << key;
  const std::optional<LineRecord> back = read_record(j.dump());
  ASSERT_TRUE(back);
  EXPECT_TRUE(same(*back, plain));
  EXPECT_FALSE(back->options == sample_record().options);
}

TEST(LineRecord, EveryCutOfARecordIsNoRecord) {
  const std::string text = write_record(sample_record());
  // The whole text less its final line end is still the whole object.
  for (std::size_t n = 0; n + 2 < text.size(); ++n)
    EXPECT_FALSE(read_record(text.substr(0, n))) << "cut at " << n;
}

TEST(LineRecord, OtherVersionsAndFormatsAreNoRecord) {
  const std::vector<std::string> texts = {
      "",
      "\x00\xff garbage",
      // The first version's text lines.
      "beamfall-campaign record 1\nstatus 0\nseconds 1.250\noptions\nbinary 1 2 beamfall\n",
      "[]",
      "null",
      "{}",
  };
  for (const std::string& t : texts)
    EXPECT_FALSE(read_record(t)) << t;
  for (const json& version : {json(1), json(3), json("2"), json(2.5), json(nullptr)}) {
    json j = json::parse(write_record(sample_record()));
    j["version"] = version;
    EXPECT_FALSE(read_record(j.dump())) << version;
  }
  json j = json::parse(write_record(sample_record()));
  j["format"] = "beamfall-manifest";
  EXPECT_FALSE(read_record(j.dump()));
}

TEST(LineRecord, AFieldMissingOrOfTheWrongTypeIsNoRecord) {
  const json whole = json::parse(write_record(sample_record()));
  for (const std::string key : {"format", "version", "status", "seconds", "options", "binary",
                                "inputs", "outputs", "manifest"}) {
    json j = whole;
    j.erase(key);
    EXPECT_FALSE(read_record(j.dump())) << "without " << key;
  }
  // JSON pointer of the field, and a value it must not take.
  const std::vector<std::pair<std::string, json>> wrong = {
      {"/status", "0"},
      {"/status", 1.5},
      {"/status", 1e300},
      {"/status", 4294967296},
      {"/seconds", "12.3"},
      {"/options/las", 1},
      {"/options/line_id", 18446744073709551615u},
      {"/options/date", nullptr},
      {"/options/rigorous", "true"},
      {"/options/boresight", json::array({0.1, -0.1, 0.2})},
      {"/options/range_offset", -0.03},
      {"/binary/size", -1.0e19},
      {"/binary/mtime_ns", 18446744073709551615u},
      {"/inputs", json::object()},
      {"/inputs/1", "deck"},
      {"/inputs/0/name", 7},
      {"/outputs/0/exists", "true"},
      {"/manifest", json::array()},
  };
  for (const auto& [pointer, value] : wrong) {
    json j = whole;
    j[json::json_pointer(pointer)] = value;
    EXPECT_FALSE(read_record(j.dump())) << pointer << " = " << value;
  }
  // A file that exists needs its size and time; one that does not, neither.
  json j = whole;
  j["outputs"][0].erase("size");
  EXPECT_FALSE(read_record(j.dump()));
}

TEST(LineRecord, NamesThatAreNotUtf8AreStillWritten) {
  LineRecord r = sample_record();
  r.inputs[1].name = "line\xff\xfe";
  const std::optional<LineRecord> back = read_record(write_record(r));
  ASSERT_TRUE(back);
  // Changed, so that line will run again rather than pass as up to date.
  EXPECT_NE(back->inputs[1].name, r.inputs[1].name);
}

namespace fs = std::filesystem;

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir))
    names.insert(e.path().filename().string());
  return names;
}

// The record is replaced whole through a temporary name of its own: another writer's
// temporary file beside it is no obstacle, and none of its own is left, written or not.
TEST(SaveRecord, ReplacedWholeAndNothingLeftBeside) {
  std::string pattern = (fs::temp_directory_path() / "campaign-record-test.XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  fs::create_directory(dir / ".campaign-record.tmp");  // another writer's, the old fixed name
  LineRecord first = sample_record();
  LineRecord second = sample_record();
  second.status = 1;
  for (const LineRecord* r : {&first, &second}) {
    save_record(dir.string(), *r);
    const std::optional<LineRecord> back = load_record(dir.string());
    ASSERT_TRUE(back);
    EXPECT_TRUE(same(*back, *r));
    EXPECT_EQ(names_in(dir), (std::set<std::string>{".campaign-record", ".campaign-record.tmp"}));
  }
  // A record that can't be put in place is an error, with no temporary file left behind.
  const fs::path blocked = dir / "blocked";
  fs::create_directories(blocked / ".campaign-record");
  EXPECT_ANY_THROW(save_record(blocked.string(), first));
  EXPECT_EQ(names_in(blocked), std::set<std::string>{".campaign-record"});
  fs::remove_all(dir);
}

TEST(LineResult, PrintedFromTheRecord) {
  LineRecord r;
  r.status = 0;
  r.seconds = 41.2004;
  EXPECT_EQ(line_result("line07", r), "line07: done in 41.200 s");
  r.status = 2;
  EXPECT_EQ(line_result("line07", r), "line07: FAILED (exit status 2)");
  EXPECT_EQ(line_result("line07", std::nullopt), "line07: FAILED (exit status none, no record)");
}

TEST(LineFailure, NoPointsInTheManifestOrAStatus) {
  // Regression: a run that output no point (an empty trajectory) ended with status 0 and its
  // line counted as done.
  const auto manifest = [](int status, std::int64_t points) {
    return nlohmann::json{{"format", "beamfall-manifest"},
                          {"version", 1},
                          {"status", status},
                          {"summary", {{"points_output", points}, {"scans_read", 160}}}};
  };
  const struct {
    int status;
    nlohmann::json manifest;
    Failure want;
    const char* printed;
  } table[] = {
      {0, manifest(0, 19200), Failure::none, "line07: done in 41.200 s"},
      {0, manifest(0, 0), Failure::no_points, "line07: FAILED (no points)"},
      {1, manifest(1, 0), Failure::no_points, "line07: FAILED (no points)"},
      {1, manifest(1, 19200), Failure::exit_status, "line07: FAILED (exit status 1)"},
      {1, nullptr, Failure::exit_status, "line07: FAILED (exit status 1)"},
      // A run that stopped before its summary has no count: its status says it failed.
      {1,
       {{"format", "beamfall-manifest"}, {"version", 1}, {"status", 1}},
       Failure::exit_status,
       "line07: FAILED (exit status 1)"},
      {0, nullptr, Failure::none, "line07: done in 41.200 s"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.printed);
    LineRecord r;
    r.status = row.status;
    r.seconds = 41.2004;
    r.manifest = row.manifest;
    EXPECT_EQ(line_failure(r), row.want);
    EXPECT_EQ(line_result("line07", r), row.printed);
  }
}

TEST(LineIds, NumbersFromNamesElseFolderOrder) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<int>>> table = {
      {{"line00", "line01"}, {1, 2}},               // 0 is no point source ID
      {{"L7", "L65535"}, {7, 65535}},               // the largest one
      {{"a65536", "b2"}, {1, 2}},                   // one too large
      {{"x18446744073709551621", "y2"}, {1, 2}},    // would wrap around in 64 bits
      {{"x0000000000000000000005", "y2"}, {5, 2}},  // leading zeros
      {{"m3", "n3"}, {1, 2}},                       // the same number twice
      {{"north", "line2"}, {1, 2}},                 // a name without a number
      {{"L12-north-3", "L4"}, {12, 4}},             // the first number counts
  };
  for (const auto& [names, ids] : table)
    EXPECT_EQ(line_ids(names), ids) << names[0] << " " << names[1];
}

TEST(FlightDate, CalendarDatesOnly) {
  for (const char* good : {"2026-06-01", "2024-02-29", "0001-01-01"})
    EXPECT_TRUE(valid_date(good)) << good;
  for (const char* bad : {"2026-13-45", "2025-02-29", "2026-6-1", "2026-06-01 ", "", "20260601xx",
                          "2026/06/01", "+026-06-01"})
    EXPECT_FALSE(valid_date(bad)) << bad;
}

}  // namespace
}  // namespace campaign
