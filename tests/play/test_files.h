#pragma once
// Files for the whole-program tests: names in the test's temporary folder, contents.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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

struct CommandRun {
  int status = -1;  // exit status, -1 when the command did not exit normally
  std::string out;
  std::string err;
};

// Runs a shell command with its output and errors caught in temporary files named
// after prefix.
inline CommandRun run_command(const std::string& prefix, const std::string& command) {
  const std::string out = temp_path(prefix, "stdout");
  const std::string err = temp_path(prefix, "stderr");
  CommandRun run;
  const int raw = std::system((command + " >" + out + " 2>" + err).c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = read_file(out);
  run.err = read_file(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}
