// The records window's tests need one QApplication for the whole run.
#include "Presenter.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (how CTest discovers them) needs no platform.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(records::RecordsTitle));
    return RUN_ALL_TESTS();
}
