// beamfall-trajectory: an SBET (and its accuracy file) as beamfall's trajectory file.
#include <cstdio>
#include <exception>

#include "kit/command_line.hpp"
#include "options.hpp"
#include "runfiles/text.hpp"

namespace {

// One line a file: records read, lines written and their time span.
void print_summary(const std::string& in, const sbet::FileSummary& s, const std::string& out) {
  std::printf("%s: %llu records, %llu written to %s (%s .. %s h)\n", in.c_str(),
              static_cast<unsigned long long>(s.records),
              static_cast<unsigned long long>(s.written), out.c_str(),
              runfiles::fixed(s.first, 6).c_str(), runfiles::fixed(s.last, 6).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const sbet::Options o = sbet::parse_options(argc, argv);
    if (o.help) {
      std::fputs(sbet::usage_text(), stdout);
    } else {
      const sbet::ConvertSummary s = sbet::convert(o.convert);
      print_summary(o.convert.sbet, s.trajectory, o.convert.out);
      if (!o.convert.accuracy.empty())
        print_summary(o.convert.accuracy, s.sigma, o.convert.sigma_out);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const kit::UsageError& e) {
    std::fprintf(
        stderr, "beamfall-trajectory: %s\nTry 'beamfall-trajectory --help' for more information.\n",
        e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "beamfall-trajectory: %s\n", e.what());
    return 1;
  }
}
