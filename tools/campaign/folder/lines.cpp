#include "campaign/folder/lines.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "kit/error.hpp"

namespace campaign {

namespace fs = std::filesystem;

std::vector<std::string> list_lines(const std::string& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    std::error_code ec;
    if (name.empty() || name[0] == '.' || !e.is_directory(ec)) continue;
    if (!deck_name(e.path().string()).empty()) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string deck_name(const std::string& line_dir) {
  std::error_code ec;
  const bool deck = fs::is_regular_file(fs::path(line_dir) / "deck", ec);
  const bool deck_txt = fs::is_regular_file(fs::path(line_dir) / "deck.txt", ec);
  if (deck && deck_txt)
    throw kit::ToolError(line_dir + ": both deck and deck.txt; keep the one to run");
  return deck ? "deck" : deck_txt ? "deck.txt" : "";
}

namespace {

// The first run of digits in the name as a line number, 0 when there is none or it is
// outside 1 to 65535 (leading zeros allowed, any number of digits).
int number_in_name(const std::string& name) {
  const auto first =
      std::find_if(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (first == name.end()) return 0;
  auto digit = std::find_if(first, name.end(), [](char c) { return c != '0'; });
  const auto end = std::find_if(first, name.end(), [](char c) { return c < '0' || c > '9'; });
  if (end - digit > 5) return 0;
  int v = 0;
  for (; digit < end; ++digit)
    v = 10 * v + (*digit - '0');
  return v <= 65535 ? v : 0;
}

}  // namespace

std::vector<int> line_ids(const std::vector<std::string>& names) {
  std::vector<int> ids;
  std::set<int> seen;
  for (const std::string& name : names) {
    const int k = number_in_name(name);
    if (k == 0 || !seen.insert(k).second) break;
    ids.push_back(k);
  }
  if (ids.size() == names.size()) return ids;
  ids.clear();
  for (std::size_t k = 0; k < names.size(); ++k)
    ids.push_back(static_cast<int>(k + 1));
  return ids;
}

bool valid_date(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t k : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[k] < '0' || text[k] > '9') return false;
  const int y = std::stoi(text.substr(0, 4));
  const unsigned m = static_cast<unsigned>(std::stoi(text.substr(5, 2)));
  const unsigned d = static_cast<unsigned>(std::stoi(text.substr(8, 2)));
  return std::chrono::year_month_day(std::chrono::year(y), std::chrono::month(m),
                                     std::chrono::day(d))
      .ok();
}

std::string line_date(const std::string& line_dir, const std::string& fallback) {
  std::ifstream in(line_dir + "/date");
  std::string first, d;
  if (in) std::getline(in, first);
  for (char c : first)
    if (!std::isspace(static_cast<unsigned char>(c))) d += c;
  return d.empty() ? fallback : d;
}

}  // namespace campaign
