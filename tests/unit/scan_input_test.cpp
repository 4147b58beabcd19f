// The scanner file checked before the measurement loop, so that a run with no
// usable scanner data is known before any output is created: a text file named
// as the binary form is refused at its header (the fault: it was read as scans
// and the run ended with 0 points and success), a binary file that holds no
// measurement is told apart, and the text form's first record is read ahead
// without changing what the loop is given.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "captured_output.hpp"
#include "input/scanfile.hpp"
#include "input/scanrec.hpp"
#include "textio/error.hpp"
#include "textio/freeread.hpp"
#include "textio/infile.hpp"

namespace bf {
namespace {

using test::CapturedOutput;
using test::stop_message;

template <class T>
void put(std::string& bytes, T v) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  bytes.append(b, sizeof(T));
}

// A 47-byte header as the scanner writes it, with these units.
std::string header(std::int16_t nmeas, float runit = 0.008f, float aunit = 0.01f,
                   float tunit = 0.00001f) {
  std::string h;
  put(h, std::uint32_t{47});
  put(h, static_cast<std::int16_t>(2 + 8 * nmeas));
  put(h, std::uint32_t{0});
  put(h, std::int16_t{8});
  put(h, nmeas);
  h.append(20, '\0');
  put(h, runit);
  put(h, aunit);
  put(h, tunit);
  h.push_back(4);
  return h;
}

// One scan of one measurement: syncseq, range, amplitude, angle and timer counts.
std::string scan_of_one() {
  std::string s;
  put(s, std::int16_t{8});
  put(s, std::uint16_t{50000});
  s.push_back(20);
  put(s, std::uint16_t{5000});
  s.append("\x10\x27\x00", 3);  // timer 10000
  return s;
}

std::string header_message(const std::string& bytes) {
  BinaryInput in(bytes);
  CapturedOutput console;
  return stop_message([&] { readhdr(in, console.file); });
}

constexpr const char* kTextRefused =
    "*** input error: scanner file '' is text, not the binary form that bin2dd T (deck "
    "parameter line 4) names";

TEST(ScannerHeader, TextForTheBinaryFormIsAnInputError) {
  EXPECT_EQ(header_message("1 500.0 20 60.0 0.10\n2 500.0 20 100.0 0.20\n3 500.0 20 140.0 0.30\n"),
            kTextRefused);
  // A text file whose first four characters are blanks reads as a file without a
  // header: its first scan, at byte 1674, is text too.
  std::string blank_text(1674, ' ');
  blank_text += "   1  500.0  20  60.0  0.10\n";
  EXPECT_EQ(header_message(blank_text), kTextRefused);
}

TEST(ScannerHeader, BinaryHeadersAndScansPass) {
  EXPECT_EQ(header_message(header(1) + scan_of_one()), "");
  // No header: four blanks, then zero bytes and a binary scan at byte 1674.
  std::string blank = "    ";
  blank.resize(1674, '\0');
  EXPECT_EQ(header_message(blank + scan_of_one()), "");
  // ... and without the scan: nothing to call text.
  EXPECT_EQ(header_message(blank), "");
}

TEST(ScannerHeader, AUnitThatIsNotAPositiveNumberStops) {
  EXPECT_EQ(header_message(header(1, 0.0f)),
            "*** scanner file header gives 0 as its range unit; a unit must be a positive number");
  EXPECT_EQ(header_message(header(1, 0.008f, -0.01f)),
            "*** scanner file header gives -0.01 as its angle unit; a unit must be a positive "
            "number");
  EXPECT_EQ(header_message(header(1, 0.008f, 0.01f, std::numeric_limits<float>::infinity())),
            "*** scanner file header gives inf as its timer unit; a unit must be a positive "
            "number");
}

TEST(ScannerHeader, HoldsAMeasurementOnlyWithOneWholeMeasurement) {
  const std::string whole = header(1) + scan_of_one();
  for (std::size_t cut = 47; cut <= whole.size(); ++cut) {
    BinaryInput in(std::string_view(whole).substr(0, cut));
    CapturedOutput console;
    const ScanLayout layout = readhdr(in, console.file);
    EXPECT_EQ(holds_measurement(in, layout), cut == whole.size()) << cut << " bytes";
  }
}

struct Delivered {
  std::int32_t i;
  double thr;
  std::int64_t scanno;
  bool newscan;
  bool operator==(const Delivered&) const = default;
};

// What the loop is given from `text`, with the first record read ahead or not.
std::vector<Delivered> deliver(const std::string& text, const ScanWindow& w, bool ahead,
                               ScanTiming& timing) {
  TextInput in(text);
  FreeReader reader(in);
  CapturedOutput console;
  TextScanReader scan(reader, w, console.file);
  scan.start();
  if (ahead) {
    EXPECT_TRUE(scan.read_ahead());
  }
  std::vector<Delivered> got;
  Measurement m;
  while (scan.next(m)) {
    got.push_back({m.i, m.thr, m.scanno, m.newscan});
    m.newscan = false;  // as the pipeline lowers it
  }
  timing = scan.timing();
  return got;
}

TEST(TextScanner, ReadingAheadChangesNothingTheLoopIsGiven) {
  // Three scans of two measurements, the timer wrapping once; thinning keeps
  // every second scan, and the last window's tend ends the data in the second.
  const std::string text =
      "1 400 20 90 0.5\n2 400 20 110 0.6\n1 400 20 90 0.9\n2 400 20 110 0.1\n"
      "1 400 20 90 0.2\n2 400 20 110 0.3\n";
  const ScanWindow windows[] = {{10, 10, 11, 1}, {10, 10, 11, 2}, {10, 10, 10.0003, 1}};
  for (const ScanWindow& w : windows) {
    ScanTiming with, without;
    EXPECT_EQ(deliver(text, w, true, with), deliver(text, w, false, without));
    EXPECT_EQ(with.nscans, without.nscans);
    EXPECT_EQ(with.nwrap, without.nwrap);
  }
  // The first record itself beyond tend.
  ScanTiming t;
  EXPECT_TRUE(deliver("1 400 20 90 0.5\n", {10, 10, 10.0001, 1}, true, t).empty());
}

TEST(TextScanner, NothingToReadAheadInAnEmptyOrBinaryFile) {
  for (const std::string& text : {std::string(), std::string("\n  \n"), header(1)}) {
    TextInput in(text);
    FreeReader reader(in);
    CapturedOutput console;
    TextScanReader scan(reader, {10, 10, 11, 1}, console.file);
    EXPECT_FALSE(scan.read_ahead());
    Measurement m;
    EXPECT_FALSE(scan.next(m));
    EXPECT_EQ(scan.timing().nscans, 0);
    const bool binary = text.size() == 47;
    EXPECT_EQ(console.text(), binary ? " *** warning: unreadable scanner record at line 1 \n" : "");
  }
}

}  // namespace
}  // namespace bf
