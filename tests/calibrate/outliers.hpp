// Faults put into a binary scanner file: a share of the ranges made longer, scans left out.
#pragma once

#include <string>

// Adds 1 to 5 m (uniform, whole range counts) to `share` of the returns of the .2dd file at
// `path`, chosen by a fixed pseudo-random sequence from `seed`. Returns how many it changed.
long add_gross_errors(const std::string& path, double share, unsigned seed);

// Keeps every `keep`-th scan of the .2dd file at `path` (the first, then every keep-th after
// it), so that the line's scan lines lie keep times as far apart. Returns the scans kept.
long keep_every_scan(const std::string& path, int keep);
