// The flight lines of a campaign folder: which sub-folders they are, their numbers (the LAS
// point source IDs) and their flight dates.
#pragma once

#include <string>
#include <vector>

namespace campaign {

// The line folders of a campaign (sub-folders holding a deck, see deck_name; not hidden), in
// byte order of their names. A folder with two decks stops the listing (kit::ToolError).
std::vector<std::string> list_lines(const std::string& dir);

// The deck of the line folder `line_dir`: "deck", else "deck.txt" (the name beamfall-sim
// writes), else "" when there is neither. Both at once is an error (kit::ToolError naming the
// folder): the campaign does not guess which of two decks is meant.
std::string deck_name(const std::string& line_dir);

// Line numbers: the number in each folder's name when every name has one from 1 to 65535 (a
// LAS point source ID; beamfall refuses 0) and they all differ, else 1, 2, ... in folder order.
std::vector<int> line_ids(const std::vector<std::string>& names);

// True for a calendar date written YYYY-MM-DD.
bool valid_date(const std::string& text);

// The line's flight date: the first line of its `date` file without blanks, else `fallback`.
std::string line_date(const std::string& line_dir, const std::string& fallback);

}  // namespace campaign
