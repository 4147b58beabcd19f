// A plain main for a fuzz target: runs the target once on every file named on
// the command line (a directory stands for the files in it, in name order),
// so that the corpora can be replayed by the ordinary test suite without
// libFuzzer. A finding aborts, which fails the test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int k = 1; k < argc; ++k) {
    const fs::path arg = fs::absolute(argv[k]);
    if (fs::is_directory(arg)) {
      for (const auto& e : fs::directory_iterator(arg))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.push_back(arg);
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "replay: no input files\n");
    return 2;
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "replay: cannot read %s\n", f.c_str());
      return 2;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());  // exact size, for the sanitizers
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
