// The desktop shell on a Wayland session without X: every test of this
// executable runs against its own headless weston, this process as one of
// its clients on Qt's wayland platform. Listing the tests needs none.
#include "WestonTestSupport.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    pelorus::test::HeadlessWeston weston;
    if (!weston.started()) {
        std::fputs("weston did not start\n", stderr);
        return 1;
    }
    ::setenv("XDG_RUNTIME_DIR", weston.runtimeDir().c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", pelorus::test::HeadlessWeston::SocketName, 1);
    ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    ::unsetenv("DISPLAY");
    int status = 0;
    {
        QApplication application(argc, argv);
        Q_INIT_RESOURCE(icons);  // the icons live in a static library
        status = RUN_ALL_TESTS();
    }
    return status;
}
