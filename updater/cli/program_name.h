// The name before every line updater-cli adds of its own
// ("updater-cli: u.wsw: No such file or directory") and in its traces' heading.
#pragma once

namespace updater::cli {

inline constexpr const char* kProgramName = "updater-cli";

}  // namespace updater::cli
