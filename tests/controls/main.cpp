#include <QApplication>
#include <gtest/gtest.h>

// Widget tests need an application object; without a display they run on
// the offscreen platform, which is also how CTest starts them.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
