// The shared output readers: block boundaries anywhere in a line or record, and the LAS 1.4
// reader on hand-built files (two points; the same one byte short;
// header fields a reader must refuse).
#include <gtest/gtest.h>

#include <unistd.h>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runfiles/block_reader.hpp"
#include "runfiles/las_reader.hpp"
#include "runfiles/run_files.hpp"
#include "runfiles/text.hpp"

namespace {

// CTest runs each test as its own process, several at once: the process id keeps
// two tests that use the same file name apart.
std::string temp_file(const std::string& name, const std::string& bytes) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("beamfall-readers-" + std::to_string(::getpid()) + "-" + name))
                               .string();
  runfiles::write_file(path, bytes);
  return path;
}

// parse_double's plain-decimal path against from_chars, bit for bit (the sign of a zero
// too): the files' fixed-point fields at every width and precision, near-ties and runs of
// 15 and 16 digits (the path's limit), then random strings of digits, signs, points,
// exponents and blanks, which either parse to the same double or are refused by both.
TEST(ParseDouble, PlainDecimalsExactlyAsFromChars) {
  const auto reference = [](std::string_view s, double& v) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
  };
  std::vector<std::string> texts = {"0",
                                    "-0",
                                    "-0.00",
                                    "+1.5",
                                    "1.",
                                    ".5",
                                    "-",
                                    ".",
                                    "1.2.3",
                                    "--1",
                                    "+-2",
                                    "1e5",
                                    "0.1",
                                    "0.3",
                                    "123456789012345",
                                    "1234567890123456",
                                    "0.000000000000001",
                                    "-999999999999999.",
                                    "9007199254740993",
                                    "4.35",
                                    "2.675"};
  std::mt19937_64 gen(29);
  char buf[64];
  for (int k = 0; k < 300000; ++k) {
    const int decimals = static_cast<int>(gen() % 10);
    const double magnitude = std::pow(10.0, static_cast<double>(gen() % 14) - 3.0);
    const double value = (static_cast<double>(gen() % 2000001) - 1e6) / 1e6 * magnitude;
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    texts.emplace_back(buf);
  }
  const std::string alphabet = "0123456789.-+e ";
  for (int k = 0; k < 300000; ++k) {
    std::string t(1 + gen() % 12, ' ');
    for (char& c : t)
      c = alphabet[gen() % alphabet.size()];
    texts.push_back(t);
  }
  for (const std::string& t : texts) {
    double got = NAN, want = NAN;
    const bool ok = runfiles::parse_double(t, got), want_ok = reference(t, want);
    ASSERT_EQ(ok, want_ok) << "'" << t << "'";
    if (ok) {
      std::uint64_t a = 0, b = 0;
      std::memcpy(&a, &got, sizeof a);
      std::memcpy(&b, &want, sizeof b);
      ASSERT_EQ(a, b) << "'" << t << "': " << got << " against " << want;
    }
  }
}

TEST(BlockReader, LinesAndRecordsAcrossEveryBlockBoundary) {
  const std::string text = "first line\r\n\nthird, longer than the block\nlast without end";
  const std::string path = temp_file("lines", text);
  for (std::size_t block : {1u, 2u, 3u, 7u, 64u}) {
    runfiles::BlockReader in(path, block);
    std::vector<std::string> got;
    std::string_view line;
    while (in.next_line(line))
      got.emplace_back(line);
    EXPECT_EQ(got, (std::vector<std::string>{"first line", "", "third, longer than the block",
                                             "last without end"}))
        << "block " << block;
    runfiles::BlockReader rec(path, block);
    const char* p = nullptr;
    std::string joined;
    while (rec.next_record(18, p))
      joined.append(p, 18);
    EXPECT_EQ(joined, text.substr(0, text.size() / 18 * 18));
    EXPECT_EQ(rec.leftover(), text.size() % 18);
  }
  std::filesystem::remove(path);
}

TEST(BlockReader, MissingFileNamedInTheError) {
  try {
    runfiles::BlockReader in("/nonexistent/points.bin");
    FAIL();
  } catch (const runfiles::ToolError& e) {
    EXPECT_STREQ(e.what(), "cannot open /nonexistent/points.bin");
  }
}

// ---- LAS 1.4, point data record format 6 ----

template <typename T>
void put(std::string& b, std::size_t at, T v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}

// A header with one VLR-sized gap before the points, and two 32-byte records (two extra
// bytes each, which a reader must step over by the record length).
std::string two_point_las() {
  constexpr std::size_t kGap = 54, kLength = 32;
  std::string b(375 + kGap + 2 * kLength, '\0');
  std::memcpy(b.data(), "LASF", 4);
  b[24] = 1;
  b[25] = 4;
  put<std::uint16_t>(b, 94, 375);
  put<std::uint32_t>(b, 96, 375 + kGap);
  b[104] = 6;
  put<std::uint16_t>(b, 105, kLength);
  put<std::uint64_t>(b, 247, 2);
  const double scale[3] = {1e-7, 1e-7, 1e-3}, offset[3] = {-15.0, 78.0, 0.0};
  for (int k = 0; k < 3; ++k) {
    put<double>(b, 131 + 8 * k, scale[k]);
    put<double>(b, 155 + 8 * k, offset[k]);
  }
  const std::int32_t xyz[2][3] = {{1234567, 5000000, 351}, {-7654321, -1, -2500}};
  for (int p = 0; p < 2; ++p) {
    const std::size_t at = 375 + kGap + p * kLength;
    for (int k = 0; k < 3; ++k)
      put<std::int32_t>(b, at + 4 * k, xyz[p][k]);
    put<std::uint16_t>(b, at + 12, static_cast<std::uint16_t>(40000 + p));
    put<double>(b, at + 22, 51607.25 + p);
  }
  return b;
}

std::vector<runfiles::LasPoint> read_las(const std::string& bytes) {
  const std::string path = temp_file("las", bytes);
  std::vector<runfiles::LasPoint> out;
  try {
    runfiles::for_each_las_point(path, [&](std::span<const runfiles::LasPoint> ps) {
      out.insert(out.end(), ps.begin(), ps.end());
    });
  } catch (...) {
    std::filesystem::remove(path);
    throw;
  }
  std::filesystem::remove(path);
  return out;
}

TEST(LasReader, TwoPointsScaledAndOffset) {
  const std::vector<runfiles::LasPoint> p = read_las(two_point_las());
  ASSERT_EQ(p.size(), 2u);
  EXPECT_NEAR(p[0].x, -15.0 + 0.1234567, 1e-12);
  EXPECT_NEAR(p[0].y, 78.5, 1e-12);
  EXPECT_NEAR(p[0].z, 0.351, 1e-12);
  EXPECT_EQ(p[0].intensity, 40000);
  EXPECT_EQ(p[0].gps_time, 51607.25);
  EXPECT_NEAR(p[1].x, -15.7654321, 1e-12);
  EXPECT_NEAR(p[1].y, 77.9999999, 1e-12);
  EXPECT_NEAR(p[1].z, -2.5, 1e-12);
  EXPECT_EQ(p[1].intensity, 40001);
  EXPECT_EQ(p[1].gps_time, 51608.25);
}

TEST(LasReader, RefusesWithTheFieldNamed) {
  struct Case {
    const char* what;
    std::size_t at;
    std::string bytes;  // written at `at`; empty: the file is cut there
    const char* message_part;
  };
  const Case cases[] = {
      {"one byte short", two_point_las().size() - 1, "", "ends after 1 of 2 points"},
      {"header cut", 200, "", "shorter than its 375-byte header"},
      {"signature", 0, "LASG", "not a LAS 1.4 file"},
      {"version 1.2", 25, std::string(1, '\2'), "LAS version 1.2"},
      {"format 1", 104, std::string(1, '\1'), "record format 1, not 6"},
      {"record length 29", 105, std::string("\x1d\0", 2), "record length below 30"},
      {"zero scale", 139, std::string(8, '\0'), "scale factor not positive"},
  };
  for (const Case& c : cases) {
    std::string b = two_point_las();
    if (c.bytes.empty()) {
      b.resize(c.at);
    } else {
      b.replace(c.at, c.bytes.size(), c.bytes);
    }
    try {
      read_las(b);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const runfiles::ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
}

}  // namespace
