// zelkolink-dump fails the way every ZelkoLink tool does: a ToolError with a
// one-line message and its exit status. main() catches it.
#pragma once

#include "tool_error.hpp"

namespace zelkolink_dump {

using DumpError = zelkolink_tools::ToolError;
using zelkolink_tools::input_error;
using zelkolink_tools::kExitBadInput;
using zelkolink_tools::kExitBadUsage;
using zelkolink_tools::usage_error;

}  // namespace zelkolink_dump
