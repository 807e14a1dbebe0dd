// SPDX-License-Identifier: MIT
// main() for tests that need a QApplication: headless unless told otherwise.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
#ifdef VX_TEST_LANGUAGE
  // The catalog is chosen when the process starts, as for a user.
  setenv("LANGUAGE", VX_TEST_LANGUAGE, 1);
  setenv("LC_ALL", "C.UTF-8", 1);
#endif
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
