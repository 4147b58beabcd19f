// --list-files: the deck's files and values as JSON, read by the core's own
// deck reader (so every spelling a run accepts), printed without touching a
// file; read back here by an independent JSON reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "run_util.hpp"

namespace bftest {
namespace {

using nlohmann::json;

const std::string kNames = "scan.2dd\ntraj.txt\ngeoid.grid\npts.bin\ncen.txt\n";

// The parameter lines 1-9 in plain spelling, and the values they hold.
const std::string kPlainParams =
    "14 20 7.25\n"
    "14.3 14.5\n"
    "70.0 80.0 -20.0 10.0\n"
    "2 3 T T T T T\n"
    "0.6 -0.3 1.4\n"
    "0.01 -0.25 0.5\n"
    "5\n"
    "10 200\n"
    "12.5\n";

const json kPlainValues = json::parse(R"({
  "scanname": "scan.2dd", "gpsname": "traj.txt", "geoidname": "geoid.grid",
  "ptname": "pts.bin", "cenname": "cen.txt",
  "hh": 14.0, "mm": 20, "ss": 7.25, "tstart": 14.3, "tend": 14.5,
  "latmin": 70.0, "latmax": 80.0, "lonmin": -20.0, "lonmax": 10.0,
  "naver": 2, "nthin": 3, "bin2dd": true, "binout": true, "gpsatt": true, "calib": true,
  "useatt": true, "dx": 0.6, "dy": -0.3, "dz": 1.4, "pitch0": 0.01, "roll0": -0.25,
  "heading0": 0.5, "amin": 5, "ilo": 10, "ihi": 200, "rmin": 12.5})");

struct Listing {
  int status = -1;
  json doc;
  std::string err;
};

Listing list_files(const fs::path& dir, const std::string& deck,
                   std::vector<std::string> extra = {}) {
  extra.insert(extra.begin(), "--list-files");
  const Result r = run_beamfall(dir, deck, extra);
  Listing l{r.status, json(), r.err};
  if (r.status == 0) l.doc = json::parse(r.out);
  return l;
}

// The same parameters in the other spellings a deck may use: Fortran
// switches, D exponents, commas, values continued over lines, tabs, comments
// after the values.
TEST(ListFiles, EverySpellingGivesTheSameValues) {
  TempDir tmp("list-spell");
  const std::vector<std::pair<const char*, std::string>> spellings = {
      {"plain", kPlainParams},
      {"fortran switches and exponents",
       "1.4D1 20 7.25D0\n14.3d0 1.45E1\n7.0D1 8.0D1 -2.0D1 1.0D1\n2 3 .TRUE. .true. T .T. TRUE\n"
       "6.0D-1 -3.0D-1 1.4D0\n1.0D-2 -2.5D-1 5.0D-1\n5\n10 200\n1.25D1\n"},
      {"commas",
       "14,20,7.25\n14.3,14.5\n70.0, 80.0, -20.0, 10.0\n2,3,T,T,T,T,T\n"
       "0.6,-0.3,1.4\n0.01,-0.25,0.5\n5,\n10,200\n12.5\n"},
      {"continued over lines",
       "14\n20\n7.25\n14.3\n14.5\n70.0 80.0\n-20.0\n10.0\n2 3\nT T\nT\nT T\n"
       "0.6\n-0.3 1.4\n0.01 -0.25\n0.5\n5\n10\n200\n12.5\n"},
      {"tabs, signs and trailing text",
       "+14\t20\t7.25 hh mm ss\n14.3 14.5 window\n"
       "70. 80. -20. 10. area\n2 3 T T T T T switches\n"
       ".6 -.3 1.4\n.01 -.25 .5\n+5\n10 200\n12.5 metres\n"},
  };
  for (const auto& [what, params] : spellings) {
    SCOPED_TRACE(what);
    const Listing l = list_files(tmp.path(), kNames + params);
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(l.doc.at("deck"), kPlainValues);
  }
}

// What a deck's switches and names make a run write, and what the options add.
TEST(ListFiles, OutputsAreThoseTheRunWrites) {
  TempDir tmp("list-outputs");
  struct Case {
    const char* what;
    std::string names, switches;
    std::vector<std::string> options;
    std::vector<std::string> inputs, outputs;  // role:name
  };
  const std::string text_names = "scan.txt\ntraj.txt\n0\npts.txt\ncen.txt\n";
  const std::vector<Case> cases = {
      {"cross profiles",
       text_names,
       "1 1 F F T T T",
       {},
       {"scanner:scan.txt", "trajectory:traj.txt"},
       {"points:pts.txt", "centre:cen.txt", "cross_profiles:scan.cal"}},
      {"no cross profiles",
       text_names,
       "1 1 F F T F T",
       {},
       {"scanner:scan.txt", "trajectory:traj.txt"},
       {"points:pts.txt", "centre:cen.txt"}},
      {"no point file: no cross profiles either",
       "scan.txt\ntraj.txt\n0\n0\ncen.txt\n",
       "1 1 F F T T T",
       {},
       {"scanner:scan.txt", "trajectory:traj.txt"},
       {"centre:cen.txt"}},
      {"geoid grid, LAS file and manifest",
       "s.2dd\nt.txt\ng.grid\np.bin\nc.txt\n",
       "1 1 T T T F T",
       {"--las", "out.las", "--date", "2024-05-01", "--manifest", "m.json"},
       {"scanner:s.2dd", "trajectory:t.txt", "geoid:g.grid"},
       {"points:p.bin", "centre:c.txt", "las:out.las", "manifest:m.json"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string params = kPlainParams;
    params.replace(params.find("2 3 T T T T T"), 13, c.switches);
    const Listing l = list_files(tmp.path(), c.names + params, c.options);
    ASSERT_EQ(l.status, 0) << l.err;
    for (const auto& [key, expected] : {std::pair{"inputs", c.inputs}, {"outputs", c.outputs}}) {
      std::vector<std::string> got;
      for (const json& f : l.doc.at(key)) {
        got.push_back(f.at("role").get<std::string>() + ":" + f.at("name").get<std::string>());
        EXPECT_EQ(fs::path(f.at("path").get<std::string>()),
                  fs::weakly_canonical(tmp.path()) / f.at("name").get<std::string>());
      }
      EXPECT_EQ(got, expected) << key;
    }
    if (!c.options.empty()) {
      EXPECT_EQ(l.doc.at("options").at("las"), "out.las");
      EXPECT_EQ(l.doc.at("options").at("date"), "2024-05-01");
      EXPECT_EQ(l.doc.at("options").at("manifest"), "m.json");
    }
  }
}

// Nothing is opened for writing, created or changed: not the outputs, not the
// manifest, not an existing output.
TEST(ListFiles, TouchesNothing) {
  TempDir tmp("list-touch");
  spit(tmp.path() / "pts.txt", "old points\n");
  struct stat before {};
  ASSERT_EQ(::stat((tmp.path() / "pts.txt").c_str(), &before), 0);
  const auto files_before = files_in(tmp.path());
  const std::string deck = "scan.txt\ntraj.txt\n0\npts.txt\ncen.txt\n" + kPlainParams;
  const Listing l = list_files(tmp.path(), deck,
                               {"--manifest", "m.json", "--las", "x.las", "--date", "2024-05-01"});
  ASSERT_EQ(l.status, 0) << l.err;
  EXPECT_EQ(files_in(tmp.path()), files_before);
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
  struct stat after {};
  ASSERT_EQ(::stat((tmp.path() / "pts.txt").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// Names with characters JSON must escape come back as the deck gives them.
TEST(ListFiles, NamesAreEscaped) {
  TempDir tmp("list-escape");
  const std::string scan = "my \"scan\" \\ file\t1.txt";
  const std::string deck = scan + "\ntraj.txt\n0\n0\ncen.txt\n" + kPlainParams;
  const Listing l = list_files(tmp.path(), deck);
  ASSERT_EQ(l.status, 0) << l.err;
  EXPECT_EQ(l.doc.at("deck").at("scanname"), scan);
  EXPECT_EQ(l.doc.at("inputs").at(0).at("name"), scan);
}

// A deck that a run would stop on: exit 1, its reason on standard error, no
// JSON; an option the deck rules out: a usage error.
TEST(ListFiles, UnreadableDeckStops) {
  TempDir tmp("list-bad");
  struct Case {
    std::string deck;
    std::vector<std::string> options;
    int status;
    const char* message;
  };
  const std::string names = "scan.txt\ntraj.txt\n0\npts.txt\ncen.txt\n";
  const std::vector<Case> cases = {
      {"scan.txt\ntraj.txt\n",
       {},
       1,
       "beamfall: *** input error: the deck ends before name line 3"},
      {names + "14 20 x\n", {}, 1, "beamfall: *** input error: deck parameter line 1: "},
      {names + "14 20 7\n1 2\n1 2 3 4\n1 1 F F F F F\n0 0 0\n0 0 0\n0\n1 2\n5\n",
       {"--las", "x.las", "--date", "2024-05-01"},
       2,
       "beamfall: --las needs full geolocation"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deck);
    std::vector<std::string> args{"--list-files"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Result r = run_beamfall(tmp.path(), c.deck, args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    EXPECT_TRUE(files_in(tmp.path()).empty());
  }
}

}  // namespace
}  // namespace bftest
