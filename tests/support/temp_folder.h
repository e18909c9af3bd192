#pragma once
// A fresh, empty folder in the system's temporary folder, on POSIX and Windows alike.
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace testing_support {

// Makes <temp>/<prefix>-<random> and returns its path, or "" when no folder could be made.
inline std::string MakeTempFolder(const std::string& prefix) {
  static std::mt19937_64 random(uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                std::random_device{}());
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return "";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path folder = base / (prefix + "-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(folder, error)) return folder.string();
  }
  return "";
}

}  // namespace testing_support
