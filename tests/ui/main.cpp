// The window tests need one QApplication for the whole run.
#include "Errors.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (how CTest discovers them) runs none, so it needs no platform: it must
    // work where no display is reachable and before QT_QPA_PLATFORM is set for the runs.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    return RUN_ALL_TESTS();
}
