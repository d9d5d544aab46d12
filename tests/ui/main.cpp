#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Widget tests never need a screen; listing the cases at build time runs
  // this program without the test environment, too.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
