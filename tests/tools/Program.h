// SPDX-License-Identifier: MIT
// A program of ours run as a user runs it, in a child process: stdout on a
// pipe, stderr in a file of the test's own folder.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Pty.h"

namespace vxsim::test {

namespace fs = std::filesystem;
using cport::test::WaitUntil;

// A fresh folder named after the running test.
inline fs::path TempDir() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("vx-") + std::to_string(::getpid()) + "-" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  const fs::path dir = fs::temp_directory_path() / name;
  fs::create_directories(dir);
  return dir;
}

// The program in a child process: stdout on a pipe, stderr in a file.
class TProgram {
 public:
  TProgram(const std::string& program, const fs::path& dir, std::vector<std::string> args) : FErr(dir / "stderr") {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string err = FErr.string();
    FPid = ::fork();
    if (FPid == 0) {
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out[1], 1);
      ::dup2(e, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    FOut = out[0];
  }
  ~TProgram() {
    if (FPid > 0 && !FExited) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
    ::close(FOut);
  }

  // Reads stdout up to its first newline.
  std::string FirstLine(int timeoutMs = 10000) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{FOut, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      if (::read(FOut, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }
  std::string RestOfStdout() {
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = ::read(FOut, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }

  void Signal(int s) { ::kill(FPid, s); }
  // The exit code, or -1 when the program did not end by itself in time.
  int Wait(int timeoutMs = 10000) {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(FPid, &status, WNOHANG) == FPid; }, timeoutMs)) return -1;
    FExited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Stderr() const {
    std::ifstream in(FErr);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  fs::path FErr;
  pid_t FPid = -1;
  int FOut = -1;
  bool FExited = false;
};

}  // namespace vxsim::test
