// Micro-benchmarks of the record writer and the free-format reader.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "textio/freeread.hpp"
#include "textio/record.hpp"

namespace {

std::vector<double> values(double lo, double hi) {
  std::mt19937_64 gen(42);
  std::uniform_real_distribution<double> dist(lo, hi);
  std::vector<double> v(4096);
  for (double& x : v)
    x = dist(gen);
  return v;
}

void field_f(benchmark::State& state, int w, int d, double lo, double hi) {
  const std::vector<double> v = values(lo, hi);
  char buf[64];
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bf::put_f(buf, w, d, v[k++ & 4095]));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(field_f, F9_6_time, 9, 6, 10.0, 14.0);
BENCHMARK_CAPTURE(field_f, F10_6_lat, 10, 6, 59.0, 84.0);
BENCHMARK_CAPTURE(field_f, F12_6_lon, 12, 6, -75.0, -10.0);
BENCHMARK_CAPTURE(field_f, F8_2_height, 8, 2, -50.0, 3000.0);

void field_i(benchmark::State& state) {
  char buf[16];
  std::int32_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bf::put_i(buf, 4, k++ & 255));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(field_i);

void free_reader(benchmark::State& state) {
  std::string text;
  for (int k = 0; k < 20000; ++k) {
    text += std::to_string(12.0 + k * 1e-5) + " 70.123456 -40.654321 412.345 1.2 -0.8 45.67\n";
  }
  std::int64_t count = 0;
  for (auto _ : state) {
    bf::TextInput in(text);
    bf::FreeReader r(in);
    double v = 0;
    for (;;) {
      r.start_read();
      bool done = false;
      for (int c = 0; c < 7 && !done; ++c)
        done = r.real(v) != bf::ReadStatus::ok;
      if (done) break;
      count += 7;
    }
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(count);
}
BENCHMARK(free_reader);

// Scanner records in the text form (I R I R R), read value by value or, where
// a record lies on one plain line, whole.
std::string scanner_records() {
  std::string text;
  for (int k = 0; k < 20000; ++k) {
    text += std::to_string(1 + k % 208) + " 377.792018 " + std::to_string(k % 128) + " " +
            std::to_string(75.0 + 0.24 * (k % 208)) + " 0.24999999\n";
  }
  return text;
}

void scanner_record(benchmark::State& state, bool plain) {
  const std::string text = scanner_records();
  std::int64_t count = 0;
  for (auto _ : state) {
    bf::TextInput in(text);
    bf::FreeReader r(in);
    std::int32_t i = 0, ampl = 0;
    double range = 0, angle = 0, tsec = 0;
    for (;; ++count) {
      r.start_read();
      if (plain && r.plain_line(i, range, ampl, angle, tsec)) continue;
      if (r.integer(i) != bf::ReadStatus::ok || r.real(range) != bf::ReadStatus::ok ||
          r.integer(ampl) != bf::ReadStatus::ok || r.real(angle) != bf::ReadStatus::ok ||
          r.real(tsec) != bf::ReadStatus::ok)
        break;
    }
    benchmark::DoNotOptimize(tsec);
  }
  state.SetItemsProcessed(count);
}
BENCHMARK_CAPTURE(scanner_record, value_by_value, false);
BENCHMARK_CAPTURE(scanner_record, plain_line, true);

// Fw.d at a compile-time width, placed on a blanked line.
template <int W, int D>
void field_f_on_blanks(benchmark::State& state, double lo, double hi) {
  const std::vector<double> v = values(lo, hi);
  char buf[64];
  std::memset(buf, ' ', sizeof buf);
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bf::put_f_on_blanks<W, D>(buf, v[k++ & 4095]));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
void F10_6_lat_on_blanks(benchmark::State& state) {
  field_f_on_blanks<10, 6>(state, 59.0, 84.0);
}
void F8_2_height_on_blanks(benchmark::State& state) {
  field_f_on_blanks<8, 2>(state, -50.0, 3000.0);
}
void F10_2_xdist_on_blanks(benchmark::State& state) {
  field_f_on_blanks<10, 2>(state, -400.0, 400.0);
}
BENCHMARK(F10_6_lat_on_blanks);
BENCHMARK(F8_2_height_on_blanks);
BENCHMARK(F10_2_xdist_on_blanks);

}  // namespace

BENCHMARK_MAIN();
