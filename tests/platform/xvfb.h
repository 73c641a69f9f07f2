// A private X server for tests that open windows: each test process starts its
// own Xvfb on a display number the server picks itself (-displayfd), so tests
// running in parallel never share or fight over a display.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class Xvfb {
 public:
  // False (with the reason) when Xvfb is not installed.
  static bool installed(std::string* why) {
    if (system("command -v Xvfb >/dev/null 2>&1") == 0) return true;
    *why = "Xvfb is not installed (apt-get install xvfb); skipping the window tests";
    return false;
  }

  // Starts the server and points DISPLAY at it.
  bool start(std::string* why) {
    if (!installed(why)) return false;
    int fds[2];
    if (pipe(fds) != 0) {
      *why = "pipe failed";
      return false;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
      }
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      *why = "fork failed";
      return false;
    }
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    // The server writes its display number and a newline once it accepts clients.
    while (number.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0) {
      char buf[16];
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, (size_t)n);
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
      stop();
      *why = "Xvfb did not start";
      return false;
    }
    number.resize(number.find('\n'));
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    return true;
  }

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  const std::string& display() const { return display_; }
  ~Xvfb() { stop(); }

 private:
  pid_t pid_ = -1;
  std::string display_;
};
