// A signal that has arrived stops the readers at their next block, as
// Interrupted: never as a Stop, which a reader may turn into a message of its
// own (a scanner header that can't be read is reported as missing).
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "input/scanfile.hpp"
#include "textio/error.hpp"
#include "textio/freeread.hpp"
#include "textio/interrupt.hpp"
#include "textio/outfile.hpp"

namespace bf {
namespace {

// Pretends SIGTERM has arrived, for the lifetime of the object.
struct PendingSigterm {
  PendingSigterm() { detail::interrupt_signal = SIGTERM; }
  ~PendingSigterm() { detail::interrupt_signal = 0; }
};

class InterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::path(::testing::TempDir()) /
            ("beamfall-interrupt-" + std::to_string(::getpid()));
    std::ofstream(path_, std::ios::binary) << std::string(100, '1') << "\n";
  }
  void TearDown() override { std::filesystem::remove(path_); }
  int open_file() const { return open_for_reading(path_.string()); }

  std::filesystem::path path_;
};

template <class F>
int interrupted_by(F f) {
  try {
    f();
  } catch (const Interrupted& i) {
    return i.signal();
  } catch (const Stop& s) {
    ADD_FAILURE() << "a Stop instead: " << s.what();
  }
  return 0;
}

TEST_F(InterruptTest, ScannerHeaderReadStopsAsInterruptedNotAsAMissingHeader) {
  BinaryInput in(open_file(), path_.string());
  OutFile console;
  console.attach(STDOUT_FILENO, "standard output", 1024);
  PendingSigterm sigterm;
  EXPECT_EQ(interrupted_by([&] { readhdr(in, console); }), SIGTERM);
}

TEST_F(InterruptTest, TextFileStopsAtItsNextBlockAndTheMessageNamesTheSignal) {
  TextInput in(open_file(), path_.string());
  FreeReader reader(in);
  double v = 0;
  PendingSigterm sigterm;
  EXPECT_EQ(interrupted_by([&] {
              reader.start_read();
              reader.real(v);
            }),
            SIGTERM);
  EXPECT_STREQ(Interrupted(SIGTERM).what(), "*** interrupted by signal 15 (SIGTERM)");
}

TEST_F(InterruptTest, PipeReadDoesNotWaitOnceASignalHasCome) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  TextInput in(fds[0], "pipe");  // nothing is ever written: a read would wait for ever
  PendingSigterm sigterm;
  EXPECT_EQ(interrupted_by([&] { in.peek(); }), SIGTERM);
  ::close(fds[1]);
}

TEST_F(InterruptTest, TextInMemoryAndQuietRunsAreUntouched) {
  TextInput text("1.5\n");
  FreeReader reader(text);
  double v = 0;
  {
    PendingSigterm sigterm;
    reader.start_read();
    EXPECT_EQ(reader.real(v), ReadStatus::ok);
  }
  TextInput file(open_file(), path_.string());
  EXPECT_EQ(file.peek(), '1');
  EXPECT_EQ(pending_interrupt(), 0);
}

}  // namespace
}  // namespace bf
