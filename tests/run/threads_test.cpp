// --threads N on the real binary: every output byte the same for any N, on a
// simulated flight long enough for a few dozen blocks of measurements and
// three centre lines on the console, with report lines of the scanner reader
// falling between blocks and inside them:
//  - for each scanner form (binary, text), point file form (binary, text,
//    none), with and without cross profiles, averaging, profile mode, the
//    default and the rigorous geometry, a LAS file (with and without each
//    point's sigmas) and the manifest: threads
//    1, 2, 3 and 7 give the same report, standard error, files and manifest
//    (its arguments and elapsed time aside);
//  - a full disk (/dev/full) under each output is reported as with one thread;
//  - usage errors of --threads;
//  - the cores a process may use: cgroup quotas read from their files' text.
#include <sched.h>

#include <nlohmann/json.hpp>
#include <optional>

#include "input/scanfile.hpp"
#include "run/cores.hpp"
#include "run_util.hpp"
#include "textio/infile.hpp"
#include "textio/outfile.hpp"

namespace {

using bftest::files_in;
using bftest::lines_of;
using bftest::Result;
using bftest::run_beamfall;
using bftest::slurp;
using bftest::spit;
using bftest::TempDir;
namespace fs = std::filesystem;

// 70 s of 40-measurement scans: 56000 measurements, 28 blocks.
constexpr const char* kFlight = "--duration 70 --nmeas 40 --scan-rate 20 --lat 72 --lon -40";

// Scans whose syncseq is spoilt, so that the reader warns there: the first,
// one early in a block and a run of three (the second and third warning
// inside what would be one block).
constexpr int kBadSyncScans[] = {0, 57, 400, 401, 402, 1100};

// Deck line `number` (1-based) replaced.
std::string with_line(const std::string& deck, int number, const std::string& line) {
  std::vector<std::string> lines = lines_of(deck);
  lines.at(static_cast<std::size_t>(number - 1)) = line;
  return bftest::join_lines(lines);
}

// The simulated scanner file's layout, read by the core's own header reader.
bf::ScanLayout layout_of(const fs::path& file) {
  bf::BinaryInput in(::open(file.c_str(), O_RDONLY), file.string());
  bf::OutFile quiet;
  quiet.discard();
  return bf::readhdr(in, quiet);
}

void spoil_syncseqs(const fs::path& file) {
  const bf::ScanLayout layout = layout_of(file);
  std::string bytes = slurp(file);
  for (const int scan : kBadSyncScans)
    bytes[static_cast<std::size_t>(layout.irec - 1 + scan * layout.scan_bytes())] ^= 0x5a;
  spit(file, bytes);
}

unsigned little_endian(const std::string& b, std::size_t at, int n) {
  unsigned v = 0;
  for (int k = n - 1; k >= 0; --k)
    v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(k)]);
  return v;
}

// The binary scanner file as the text form: one line "i range ampl angle tsec"
// a measurement, then an unreadable record, which ends the data with a warning.
void write_text_form(const fs::path& binary, const fs::path& text) {
  const bf::ScanLayout layout = layout_of(binary);
  const std::string b = slurp(binary);
  std::string out;
  char line[128];
  for (auto scan = static_cast<std::size_t>(layout.irec - 1);
       scan + static_cast<std::size_t>(layout.scan_bytes()) <= b.size();
       scan += static_cast<std::size_t>(layout.scan_bytes())) {
    for (int i = 0; i < layout.nmeas; ++i) {
      const std::size_t p = scan + 2 + static_cast<std::size_t>(i) * bf::kMeasBytes;
      std::snprintf(line, sizeof line, "%d %.3f %d %.4f %.5f\n", i + 1,
                    layout.runit * little_endian(b, p, 2), static_cast<signed char>(b[p + 2]),
                    layout.aunit * 2 * (little_endian(b, p + 3, 2) % 10000),
                    layout.tunit * little_endian(b, p + 5, 3));
      out += line;
    }
  }
  spit(text, out + "1 x 0 100 0.5\n");
}

// One run's outcome: report, standard error, status and the files written.
struct Outcome {
  Result result;
  std::map<std::string, std::string> files;
  nlohmann::json manifest;
};

Outcome run_with_threads(const fs::path& dir, const std::string& deck,
                         std::vector<std::string> args, int threads) {
  args.insert(args.begin(), {"--threads", std::to_string(threads), "--manifest", "run.json"});
  Outcome o;
  o.result = run_beamfall(dir, deck, args);
  o.files = files_in(dir);
  if (o.files.count("run.json")) {
    o.manifest = nlohmann::json::parse(o.files["run.json"]);
    o.manifest.erase("arguments");
    o.manifest.erase("elapsed_seconds");
    o.files.erase("run.json");
  }
  return o;
}

void expect_same(const Outcome& one, const Outcome& many, int threads) {
  SCOPED_TRACE("--threads " + std::to_string(threads));
  EXPECT_EQ(many.result.status, one.result.status);
  EXPECT_EQ(many.result.out, one.result.out) << "the report";
  EXPECT_EQ(many.result.err, one.result.err) << "standard error";
  EXPECT_EQ(many.manifest, one.manifest) << "the manifest";
  ASSERT_EQ(many.files.size(), one.files.size());
  for (const auto& [name, bytes] : one.files) {
    ASSERT_TRUE(many.files.count(name)) << name;
    EXPECT_TRUE(many.files.at(name) == bytes) << name << " differs";
  }
}

struct Case {
  const char* name;
  bool text_scanner = false;
  const char* points = "points.bin";  // "0": none
  bool binout = true, calib = false, useatt = true;
  int naver = 1;
  std::vector<std::string> args;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

std::vector<Case> cases() {
  const std::vector<std::string> las{"--las", "points.las", "--date", "2024-05-02"};
  const std::vector<std::string> rigorous_las{"--rigorous", "--las", "points.las", "--date",
                                              "2024-05-02"};
  // Each point's sigmas in the LAS file: computed on the threads, written in order.
  const std::vector<std::string> noise{"--sigma-position", "0.03,0.05", "--sigma-attitude",
                                       "0.005,0.005,0.01", "--sigma-range", "0.02"};
  auto with_noise = [&noise](std::vector<std::string> a) {
    a.insert(a.end(), noise.begin(), noise.end());
    return a;
  };
  return {
      {"binary_points", false, "points.bin", true, false, true, 1, las},
      {"binary_points_cross", false, "points.bin", true, true, true, 1, las},
      {"binary_points_cross_rigorous", false, "points.bin", true, true, true, 1, rigorous_las},
      {"text_points", false, "points.txt", false, false, true, 1, las},
      {"text_points_cross", false, "points.txt", false, true, true, 1, las},
      {"text_points_cross_rigorous", false, "points.txt", false, true, true, 1, rigorous_las},
      {"no_point_file_las", false, "0", true, false, true, 1, las},
      {"text_points_averaging", false, "points.txt", false, true, true, 3, las},
      {"binary_points_averaging_rigorous", false, "points.bin", true, true, true, 4, rigorous_las},
      {"profile_mode_cross", false, "points.txt", false, true, false, 1, {}},
      {"text_scanner_binary_points", true, "points.bin", true, false, true, 1, las},
      {"text_scanner_text_points_cross", true, "points.txt", false, true, true, 1, las},
      {"text_scanner_cross_rigorous", true, "points.bin", true, true, true, 1, rigorous_las},
      {"text_scanner_averaging", true, "points.txt", false, true, true, 3, {}},
      {"binary_points_cross_noise", false, "points.bin", true, true, true, 1, with_noise(las)},
      {"text_points_noise_rigorous", false, "points.txt", false, false, true, 1,
       with_noise(rigorous_las)},
      {"text_points_averaging_noise", false, "points.txt", false, true, true, 3,
       with_noise(las)},
  };
}

// The simulated flight in `dir` and its deck for case c.
std::string prepare(const fs::path& dir, const Case& c) {
  bftest::simulate(dir, std::string(kFlight) + " --geoid '" BEAMFALL_GEOID "'");
  std::string deck = slurp(dir / "deck.txt");
  spoil_syncseqs(dir / "flight.2dd");
  if (c.text_scanner) {
    write_text_form(dir / "flight.2dd", dir / "scan.txt");
    deck = with_line(deck, 1, "scan.txt");
  }
  deck = with_line(deck, 4, c.points);
  auto logical = [](bool v) { return v ? "T" : "F"; };
  std::istringstream fields(lines_of(deck).at(8));
  std::string naver, nthin, bin2dd, binout, gpsatt, calib, useatt;
  fields >> naver >> nthin >> bin2dd >> binout >> gpsatt >> calib >> useatt;
  return with_line(deck, 9,
                   std::to_string(c.naver) + " " + nthin + " " + logical(!c.text_scanner) + " " +
                       logical(c.binout) + " " + gpsatt + " " + logical(c.calib) + " " +
                       logical(c.useatt));
}

class SameForAnyThreads : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { ::setenv("SOURCE_DATE_EPOCH", "1714608000", 1); }
};

TEST_P(SameForAnyThreads, EveryOutputByte) {
  const Case& c = GetParam();
  TempDir tmp(std::string("threads-") + c.name);
  const std::string deck = prepare(tmp.path(), c);
  const Outcome one = run_with_threads(tmp.path(), deck, c.args, 1);
  ASSERT_EQ(one.result.status, 0) << one.result.out << one.result.err;
  // The flight is as meant: warnings of the reader, console centre lines, points.
  const std::string warning =
      c.text_scanner ? "*** warning: unreadable scanner record" : "*** warning - syncseq not ok";
  const std::size_t expected_warnings = c.text_scanner ? 1 : std::size(kBadSyncScans);
  std::size_t warnings = 0, centre_lines = 0;
  for (const std::string& line : lines_of(one.result.out)) {
    if (line.find(warning) != std::string::npos) ++warnings;
    if (line.size() == 51 && line.find("14.") != std::string::npos) ++centre_lines;
  }
  EXPECT_EQ(warnings, expected_warnings) << one.result.out;
  EXPECT_EQ(centre_lines, 3u) << one.result.out;
  EXPECT_TRUE(one.manifest.is_object());
  for (const int threads : {2, 3, 7})
    expect_same(one, run_with_threads(tmp.path(), deck, c.args, threads), threads);
}

INSTANTIATE_TEST_SUITE_P(Table, SameForAnyThreads, ::testing::ValuesIn(cases()),
                         [](const auto& p) { return std::string(p.param.name); });

// A full disk under one output: the write error that stops the run comes at
// the same place of the flight, so the report, standard error and the other
// files are those of one thread.
struct FullDisk {
  const char* name;
  int deck_line;    // 4 points, 5 centre
  const char* cal;  // when the cross-profile file is /dev/full: "T"
};

class FullDiskUnderThreads : public ::testing::TestWithParam<FullDisk> {};

TEST_P(FullDiskUnderThreads, ReportedAsWithOneThread) {
  const FullDisk& f = GetParam();
  TempDir tmp(std::string("threads-full-") + f.name);
  Case c{"full", false, "points.txt", false, true, true, 1, {}};
  std::string deck = prepare(tmp.path(), c);
  if (f.deck_line > 0) deck = with_line(deck, f.deck_line, "/dev/full");
  if (*f.cal == 'T') fs::create_symlink("/dev/full", tmp.path() / "scan.cal");
  const Outcome one = run_with_threads(tmp.path(), deck, {}, 1);
  ASSERT_EQ(one.result.status, 1) << one.result.out;
  const std::vector<std::string> report = lines_of(one.result.out);
  ASSERT_FALSE(report.empty());
  EXPECT_NE(report.back().find("No space left on device"), std::string::npos) << report.back();
  for (const int threads : {2, 3, 7})
    expect_same(one, run_with_threads(tmp.path(), deck, {}, threads), threads);
}

INSTANTIATE_TEST_SUITE_P(Table, FullDiskUnderThreads,
                         ::testing::Values(FullDisk{"points", 4, "F"}, FullDisk{"centre", 5, "F"},
                                           FullDisk{"cross_profiles", 0, "T"}),
                         [](const auto& p) { return std::string(p.param.name); });

// --threads wants a whole number from 1 to 1024.
TEST(ThreadsOption, UsageErrors) {
  TempDir tmp("threads-usage");
  const char* const bad[] = {"0", "-1", "x", "1.5", "", "+2", "1025", "99999", " 2"};
  for (const char* value : bad) {
    SCOPED_TRACE(value);
    for (const bool inline_value : {false, true}) {
      const std::vector<std::string> args =
          inline_value ? std::vector<std::string>{std::string("--threads=") + value}
                       : std::vector<std::string>{"--threads", value};
      const Result r = run_beamfall(tmp.path(), "", args);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err,
                std::string("beamfall: --threads wants a whole number from 1 to 1024, not '") +
                    value + "'\nTry 'beamfall --help' for more information.\n");
      EXPECT_EQ(r.out, "");
    }
  }
  const Result missing = run_beamfall(tmp.path(), "", {"--threads"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err,
            "beamfall: option --threads needs a value\nTry 'beamfall --help' for more "
            "information.\n");
  EXPECT_TRUE(files_in(tmp.path()).empty());
}

// ---------------------------------------------------------------------------
// The cores a process may use

TEST(UsableCores, CgroupQuotaFiles) {
  struct QuotaCase {
    const char* text;
    std::optional<double> cores;
  };
  const QuotaCase v2[] = {{"max 100000\n", std::nullopt},
                          {"200000 100000\n", 2.0},
                          {"150000 100000", 1.5},
                          {"50000 100000\n", 0.5},
                          {"", std::nullopt},
                          {"-1 100000\n", std::nullopt},
                          {"100000 0\n", std::nullopt},
                          {"abc 100000\n", std::nullopt}};
  for (const auto& c : v2) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(bf::cgroup2_quota(c.text), c.cores);
  }
  EXPECT_EQ(bf::cgroup1_quota("-1\n", "100000\n"), std::nullopt);
  EXPECT_EQ(bf::cgroup1_quota("300000\n", "100000\n"), 3.0);
  EXPECT_EQ(bf::cgroup1_quota("", ""), std::nullopt);
}

TEST(UsableCores, AffinityWithinTheQuotaRoundedUp) {
  struct CoresCase {
    int affinity;
    std::optional<double> quota;
    int cores;
  };
  const CoresCase table[] = {{8, std::nullopt, 8}, {8, 2.0, 2},          {8, 1.5, 2}, {8, 0.2, 1},
                             {2, 16.0, 2},         {0, std::nullopt, 1}, {4, 3.01, 4}};
  for (const auto& c : table)
    EXPECT_EQ(bf::cores_within(c.affinity, c.quota), c.cores)
        << c.affinity << " cores, quota " << c.quota.value_or(-1);
}

// On this machine: at least one, never more than the affinity allows.
TEST(UsableCores, WithinThisProcessesAffinity) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
  const int cores = bf::usable_cores();
  EXPECT_GE(cores, 1);
  EXPECT_LE(cores, CPU_COUNT(&set));
}

}  // namespace
