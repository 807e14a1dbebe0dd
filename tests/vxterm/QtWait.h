// SPDX-License-Identifier: MIT
// Waiting in tests of vxterm's parts: the Qt events (timers, file
// notifications) and the port's calls for the main thread both run while
// the test waits for an outcome.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "Classes.h"

namespace vxterm::test {

inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    QCoreApplication::processEvents();
    cport::CheckSynchronize();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// A fresh folder named after the running test.
inline std::filesystem::path TempDir() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("vxterm-") + std::to_string(::getpid()) + "-" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  const auto dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

}  // namespace vxterm::test
