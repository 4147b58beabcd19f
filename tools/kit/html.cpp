#include "kit/html.hpp"

namespace kit {

std::string html_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

std::string row(const std::vector<std::string>& cells, const char* tag) {
  std::string r = "<tr>";
  for (const std::string& c : cells)
    r += std::string("<") + tag + ">" + c + "</" + tag + ">";
  return r + "</tr>\n";
}

}  // namespace

std::string html_table(const std::vector<std::string>& header,
                       const std::vector<std::vector<std::string>>& rows) {
  std::string t = "<table>\n";
  if (!header.empty()) t += row(header, "th");
  for (const std::vector<std::string>& r : rows)
    t += row(r, "td");
  return t + "</table>\n";
}

}  // namespace kit
