// The dialog tests need a QApplication for their whole run; listing the
// tests needs none (and may run without the test environment).
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(icons);  // the icons live in a static library
    return RUN_ALL_TESTS();
}
