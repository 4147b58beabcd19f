#include "run/deck.hpp"

#include <string>

#include "textio/error.hpp"
#include "textio/freeread.hpp"
#include "textio/units.hpp"

namespace bf {

std::string file_name(const std::string& field) {
  std::size_t end = field.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : field.substr(0, end + 1);
}

bool is_no_file(const std::string& field) {
  return field.size() == static_cast<std::size_t>(kNameWidth) && field[0] == '0' &&
         field.find_first_not_of(' ', 1) == std::string::npos;
}

namespace {

// One parameter line: a free-format read of its values, in order.
class ParamLine {
 public:
  ParamLine(FreeReader& r, int number) : r_(r), number_(number) { r_.start_read(); }

  ParamLine& real(double& v) { return check(r_.real(v), "a real"); }
  ParamLine& integer(std::int32_t& v) { return check(r_.integer(v), "an integer"); }
  ParamLine& logical(bool& v) { return check(r_.logical(v), "a switch"); }

 private:
  ParamLine& check(ReadStatus s, const char* what) {
    std::string where = "deck parameter line " + std::to_string(number_);
    if (s == ReadStatus::end_of_file) input_error(where + ": the deck ends before " + what);
    if (s == ReadStatus::bad_value) input_error(where + ": " + r_.error());
    return *this;
  }

  FreeReader& r_;
  int number_;
};

std::string read_name(FreeReader& r, int number) {
  std::string field(kNameWidth, ' ');
  if (r.line_field(field.data(), kNameWidth) != ReadStatus::ok)
    input_error("the deck ends before name line " + std::to_string(number));
  return field;
}

}  // namespace

RunPar read_deck(TextInput& in) {
  RunPar p;
  read_deck(in, p);
  return p;
}

void read_deck(TextInput& in, RunPar& p) {
  FreeReader r(in);
  p.scanname = read_name(r, 1);
  p.gpsname = read_name(r, 2);
  p.geoidname = read_name(r, 3);
  p.ptname = read_name(r, 4);
  p.cenname = read_name(r, 5);
  ParamLine(r, 1).real(p.hh).integer(p.mm).real(p.ss);
  ParamLine(r, 2).real(p.tstart).real(p.tend);
  ParamLine(r, 3).real(p.latmin).real(p.latmax).real(p.lonmin).real(p.lonmax);
  ParamLine(r, 4)
      .integer(p.naver)
      .integer(p.nthin)
      .logical(p.bin2dd)
      .logical(p.binout)
      .logical(p.gpsatt)
      .logical(p.calib)
      .logical(p.useatt);
  ParamLine(r, 5).real(p.dx).real(p.dy).real(p.dz);
  ParamLine(r, 6).real(p.pitch0).real(p.roll0).real(p.heading0);
  ParamLine(r, 7).integer(p.amin);
  ParamLine(r, 8).integer(p.ilo).integer(p.ihi);
  ParamLine(r, 9).real(p.rmin);
}

void derive_times(RunPar& p) {
  p.t0 = kHoursPerMinute * p.mm + p.hh + kHoursPerSecond * p.ss;
  if (p.tstart < p.t0) p.tstart = p.t0;
}

}  // namespace bf
