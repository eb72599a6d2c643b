#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A file's bytes as they stand; none when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}
