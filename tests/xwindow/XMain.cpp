// The test main of the X-window tests: a private X server with a window manager for this
// process, the application on it, then the tests; both are stopped again by PID.
#include "XSession.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    ::testing::InitGoogleTest(&argc, argv);
    if (listing)
        return RUN_ALL_TESTS(); // listing the tests needs no display

    xwindow::Session session;
    QString error;
    if (!session.start(&error)) {
        std::fprintf(stderr, "X session: %s\n", qPrintable(error));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    session.stop();
    return result;
}
