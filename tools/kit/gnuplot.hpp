// gnuplot, started without a shell in the plot folder: the script NAME.gp and its data are
// there, the picture is written there.
#pragma once

#include <string>

namespace kit {

// Runs `dir`/`script` with `terminal` ("svg size 900,400 ...") into `dir`/`output`. gnuplot's
// messages go to `dir`/`script`.log, which is removed on success and named in the error
// (with its first line) on failure. Throws kit::ToolError.
void run_gnuplot(const std::string& dir, const std::string& script, const std::string& terminal,
                 const std::string& output);

// `text` as a gnuplot single-quoted string (a line end becomes a blank).
std::string gnuplot_quote(const std::string& text);

}  // namespace kit
