// The name before every line torvix-cli adds of its own
// ("torvix-cli: rom.bin: No such file or directory") and in its traces' heading.
#pragma once

namespace torvix::cli {

inline constexpr const char* kProgramName = "torvix-cli";

}  // namespace torvix::cli
