// Builds a binary .2dd scanner file from a readable description, so that the
// end-to-end fixtures stay reviewable text.
//
// Usage: mk2dd DESCRIPTION OUTPUT
// One command per line; '#' starts a comment.
//   header KEY=VALUE ...   the 47-byte header. Keys (defaults): length (47),
//                          bps (2 + 8*nmeas), bpm (8), nmeas (3), runit (0.008),
//                          aunit (0.01), tunit (0.00001), angleid (4)
//   blankheader            four blanks, then zero bytes up to byte 1674
//   scan [SYNCSEQ]         a scan's 2-byte syncseq (default 8*nmeas)
//   m RANGE AMPL ANGLE TIMER   one measurement from its raw counts
//   bytes HEX ...          raw bytes
//   truncate N             cut the file to N bytes
//   sparse N               extend the file to N bytes with a hole (no data written)
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> out;
long nmeas = 3;

template <class T>
void put(T v) {
  unsigned char b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  out.insert(out.end(), b, b + sizeof(T));
}

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "mk2dd: %s\n", why.c_str());
  std::exit(2);
}

void header(std::istringstream& args) {
  std::map<std::string, std::string> kv;
  std::string item;
  while (args >> item) {
    auto eq = item.find('=');
    if (eq == std::string::npos) fail("bad header item " + item);
    kv[item.substr(0, eq)] = item.substr(eq + 1);
  }
  auto num = [&](const char* key, double def) { return kv.count(key) ? std::stod(kv[key]) : def; };
  nmeas = static_cast<long>(num("nmeas", 3));
  auto length = static_cast<std::int64_t>(num("length", 47));
  put(static_cast<std::uint32_t>(length));
  put(static_cast<std::int16_t>(num("bps", static_cast<double>(2 + 8 * nmeas))));
  put(std::uint32_t{0});
  put(static_cast<std::int16_t>(num("bpm", 8)));
  put(static_cast<std::int16_t>(nmeas));
  for (int k = 0; k < 20; ++k)
    out.push_back(0);
  put(static_cast<float>(num("runit", 0.008)));
  put(static_cast<float>(num("aunit", 0.01)));
  put(static_cast<float>(num("tunit", 0.00001)));
  out.push_back(static_cast<unsigned char>(num("angleid", 4)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) fail("usage: mk2dd DESCRIPTION OUTPUT");
  std::ifstream in(argv[1]);
  if (!in) fail(std::string("cannot read ") + argv[1]);
  long long sparse_size = -1;
  std::string line;
  while (std::getline(in, line)) {
    auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream args(line);
    std::string cmd;
    if (!(args >> cmd)) continue;
    if (cmd == "header") {
      header(args);
    } else if (cmd == "blankheader") {
      out.assign(4, ' ');
      out.resize(1674, 0);
      nmeas = 208;
    } else if (cmd == "scan") {
      long sync = 8 * nmeas;
      args >> sync;
      put(static_cast<std::int16_t>(sync));
    } else if (cmd == "m") {
      long range = 0, ampl = 0, angle = 0, timer = 0;
      if (!(args >> range >> ampl >> angle >> timer)) fail("bad measurement: " + line);
      put(static_cast<std::uint16_t>(range));
      out.push_back(static_cast<unsigned char>(ampl));
      put(static_cast<std::uint16_t>(angle));
      out.push_back(static_cast<unsigned char>(timer & 0xff));
      out.push_back(static_cast<unsigned char>((timer >> 8) & 0xff));
      out.push_back(static_cast<unsigned char>((timer >> 16) & 0xff));
    } else if (cmd == "bytes") {
      std::string hex;
      while (args >> hex)
        out.push_back(static_cast<unsigned char>(std::stoul(hex, nullptr, 16)));
    } else if (cmd == "truncate") {
      std::size_t n = 0;
      args >> n;
      out.resize(n);
    } else if (cmd == "sparse") {
      args >> sparse_size;
    } else {
      fail("unknown command: " + cmd);
    }
  }
  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr) fail(std::string("cannot write ") + argv[2]);
  // An empty file is a fixture too; fwrite must not see its null data pointer.
  const bool written = out.empty() || std::fwrite(out.data(), 1, out.size(), f) == out.size();
  if (std::fclose(f) != 0 || !written) fail(std::string("cannot write ") + argv[2]);
  if (sparse_size >= 0 && ::truncate(argv[2], static_cast<off_t>(sparse_size)) != 0)
    fail("cannot extend the file");
  return 0;
}
