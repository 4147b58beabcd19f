// The tools' two failures: a command line that cannot be obeyed (exit status 2 with the usage)
// and everything else (one line naming the file or option, exit status 1). The readers of a
// run's files throw the second one already.
#pragma once

#include "runfiles/text.hpp"

namespace kit {

using runfiles::ToolError;

struct UsageError : ToolError {
  using ToolError::ToolError;
};

}  // namespace kit
