// A fresh directory under the system's temporary directory, removed with
// everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <stdlib.h>

inline void writeFile(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct TempDir {
  std::filesystem::path path;

  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bitwords-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::filesystem::filesystem_error("mkdtemp",
                                              std::error_code(errno, std::generic_category()));
    path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::filesystem::path write(const std::string& name, std::string_view bytes) const {
    const auto file = path / name;
    writeFile(file, bytes);
    return file;
  }
};

inline std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
