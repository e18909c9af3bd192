#pragma once
// Whole files as bytes, for tests that look at what a process wrote or lay out its payload.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

// The file's bytes; "" when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Writes the bytes as the whole file, making its folders first.
inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace testing_support
