#pragma once
// Files for the whole-program tests: names in the test's temporary folder, contents.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// A file name in the temporary folder, unique to this process.
inline std::string temp_path(const std::string& prefix, const std::string& name) {
  return ::testing::TempDir() + prefix + "-" + std::to_string(getpid()) + "-" + name;
}

// The whole file, or "" when it cannot be read.
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
