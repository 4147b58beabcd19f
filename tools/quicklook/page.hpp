// index.html: one self-contained page (styles inline, every picture a data URI), so that it
// shows the same with no network and when copied away from its folder.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quicklook {

struct PageContent {
  std::string title;
  std::string banner;  // shown first, in red: the run stopped; empty when it did not
  std::vector<std::pair<std::string, std::string>> summary;  // label, value
  std::vector<std::string> notes;                            // shown above the figures
  struct Figure {
    std::string caption;
    std::string mime;   // "image/svg+xml" or "image/png"
    std::string bytes;  // the picture's file contents
  };
  std::vector<Figure> figures;
};

std::string render_page(const PageContent& page);

}  // namespace quicklook
