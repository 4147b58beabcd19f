// HTML text of the tools' pages: one escape and one table.
#pragma once

#include <string>
#include <vector>

namespace kit {

// Text safe inside an element or a double- or single-quoted attribute.
std::string html_escape(const std::string& text);

// A <table> with an optional header row; cells are HTML already (escape text first).
std::string html_table(const std::vector<std::string>& header,
                       const std::vector<std::vector<std::string>>& rows);

}  // namespace kit
