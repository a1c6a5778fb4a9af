// How long the histories keep changes and how large one may grow, in
// history/settings.json: {"keep_days": 1..365, "size_limit_mb": 1..102400}.
#pragma once

#include <cstdint>
#include <string>

namespace orva_history {

struct Settings {
  int keepDays = 30;
  int sizeLimitMb = 64;
  std::uint64_t sizeLimitBytes() const {
    return static_cast<std::uint64_t>(sizeLimitMb) * 1024 * 1024;
  }
};

constexpr int kMaxKeepDays = 365;
constexpr int kMaxSizeLimitMb = 102400;

// The settings, the defaults for what is missing or out of range.
Settings readSettings();
// False when the file cannot be written; values are clamped by the caller.
bool writeSettings(const Settings& settings);

}  // namespace orva_history
