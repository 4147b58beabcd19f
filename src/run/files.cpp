#include "run/files.hpp"

namespace bf {

void open_files(RunPar& par, RunFiles& f) {
  const std::string scanname = file_name(par.scanname);
  int scan_fd = open_for_reading(scanname);
  if (par.bin2dd) {
    f.scan_binary = std::make_unique<BinaryInput>(scan_fd, scanname);
  } else {
    f.scan_text = std::make_unique<TextInput>(scan_fd, scanname);
  }

  par.wrtpts = !is_no_file(par.ptname);
  if (!par.wrtpts) par.calib = false;

  const std::string gpsname = file_name(par.gpsname);
  f.trajectory = std::make_unique<TextInput>(open_for_reading(gpsname), gpsname);

  if (par.wrtpts) {
    f.points.create(file_name(par.ptname),
                    par.binout ? CreateMode::replace_regular : CreateMode::truncate);
  }
  f.centre.create(file_name(par.cenname));
  if (par.calib) f.cal.create("scan.cal");
}

}  // namespace bf
