#include "page.hpp"

#include <cpl_conv.h>
#include <cpl_string.h>

#include "kit/html.hpp"

namespace quicklook {

namespace {

std::string data_uri(const std::string& mime, const std::string& bytes) {
  char* b64 =
      CPLBase64Encode(static_cast<int>(bytes.size()), reinterpret_cast<const GByte*>(bytes.data()));
  std::string uri = "data:" + mime + ";base64," + b64;
  CPLFree(b64);
  return uri;
}

constexpr const char* kHead =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "img-src data:; style-src 'unsafe-inline'\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<style>\n"
    "body { font-family: sans-serif; margin: 1.5em auto; padding: 0 0.8em; max-width: 960px; "
    "color: #222; }\n"
    "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
    "td { border-bottom: 1px solid #ddd; padding: 0.2em 1em 0.2em 0; }\n"
    "td:first-child { color: #555; }\n"
    "figure { margin: 0 0 2em 0; }\n"
    "figure img { max-width: 100%; height: auto; border: 1px solid #ddd; }\n"
    "p.note { background: #fff6d6; padding: 0.5em; }\n"
    "p.stopped { background: #fde0dc; border-left: 4px solid #c0392b; padding: 0.5em; "
    "font-weight: bold; }\n"
    "</style>\n";

}  // namespace

std::string render_page(const PageContent& page) {
  std::string h = kHead;
  h += "<title>" + kit::html_escape(page.title) + "</title>\n</head>\n<body>\n";
  h += "<h1>" + kit::html_escape(page.title) + "</h1>\n";
  if (!page.banner.empty()) h += "<p class=\"stopped\">" + kit::html_escape(page.banner) + "</p>\n";
  h += "<h2>Run summary</h2>\n";
  std::vector<std::vector<std::string>> rows;
  for (const auto& [label, value] : page.summary)
    rows.push_back({kit::html_escape(label), kit::html_escape(value)});
  h += kit::html_table({}, rows);
  for (const std::string& note : page.notes)
    h += "<p class=\"note\">" + kit::html_escape(note) + "</p>\n";
  for (const PageContent::Figure& f : page.figures) {
    h += "<figure>\n<img alt=\"" + kit::html_escape(f.caption) + "\" src=\"" +
         data_uri(f.mime, f.bytes) + "\">\n<figcaption>" + kit::html_escape(f.caption) +
         "</figcaption>\n</figure>\n";
  }
  h += "</body>\n</html>\n";
  return h;
}

}  // namespace quicklook
