#pragma once
// A PulseAudio server of the test's own: its own folder, socket and configuration, no
// user session, D-Bus or systemd needed, one null sink whose monitor is a recording
// device. It dies with the test process whatever happens (the kernel sends it SIGKILL
// when its parent goes), and is stopped at the end of its scope.
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_files.h"

class PulseServer {
 public:
  static constexpr const char* kSink = "corvanta_test";
  // What SDL lists the sink's monitor as.
  static constexpr const char* kMonitor = "Monitor of Corvanta-test";

  PulseServer() = default;
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;
  ~PulseServer() { stop(); }

  // False with the reason when there is no server to start or it would not start.
  bool start(std::string& why) {
    if (std::string(PULSEAUDIO_PATH).empty() || std::string(PAPLAY_PATH).empty()) {
      why = "no pulseaudio or paplay (tools/install-deps.sh installs them in its play group)";
      return false;
    }
    std::string pattern = ::testing::TempDir() + "corvanta-pulse-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
      why = "cannot make a folder for the PulseAudio server";
      return false;
    }
    dir_ = pattern;
    socket_ = dir_ + "/native";
    const std::string config = dir_ + "/default.pa";
    const std::string log = dir_ + "/log";
    {
      // The sink before the socket: once clients can connect, the sink is there.
      std::ofstream pa(config);
      pa << "load-module module-null-sink sink_name=" << kSink
         << " sink_properties=device.description=Corvanta-test rate=44100\n"
         << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket_ << "\n";
    }
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() == 1) _exit(1);
      setenv("HOME", dir_.c_str(), 1);
      setenv("PULSE_RUNTIME_PATH", dir_.c_str(), 1);
      setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
      if (std::freopen(log.c_str(), "w", stderr) == nullptr) _exit(1);
      execl(PULSEAUDIO_PATH, "pulseaudio", "-n", "-F", config.c_str(), "--daemonize=no", "--exit-idle-time=-1",
            "--use-pid-file=no", "--log-target=stderr", "--log-level=error", static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int tries = 0; tries < 200; ++tries) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        std::string text = read_file(log);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        why = "the PulseAudio server would not start: " +
              (text.empty() ? std::string("no message") : text.substr(text.find_last_of('\n') + 1));
        return false;
      }
      if (access(socket_.c_str(), F_OK) == 0) return true;
      usleep(50000);
    }
    why = "the PulseAudio server did not open its socket within 10 s";
    stop();
    return false;
  }

  // Environment settings that send a client (SDL, paplay) to this server.
  std::string env() const { return "PULSE_SERVER=unix:" + socket_ + " "; }

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      bool gone = false;
      for (int tries = 0; tries < 100 && !gone; ++tries) {
        gone = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!gone) usleep(50000);
      }
      if (!gone) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
      dir_.clear();
    }
  }

 private:
  pid_t pid_ = -1;
  std::string dir_;
  std::string socket_;
};
