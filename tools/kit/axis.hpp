// Round tick steps for the tools' figures, drawn by gnuplot or as inline SVG: 1, 2 or 5 times
// a power of ten, labelled with as many decimals as the step needs, so that no two labels of
// an axis read the same.
#pragma once

#include <string>
#include <vector>

namespace kit {

// The smallest round step that gives at most about `ticks` intervals over `span`.
double tick_step(double span, int ticks = 4);

// Decimals that tell ticks `step` apart: 0 for 5, 1 for 0.5, 3 for 0.002.
int tick_decimals(double step);

// The multiples of `step` within [lo, hi].
std::vector<double> ticks_within(double lo, double hi, double step);

// A tick's label: `v` with `decimals`, "0" rather than "-0".
std::string tick_label(double v, int decimals);

}  // namespace kit
