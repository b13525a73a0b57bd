// The crash tests run their crashing code in forked children of the test
// itself: GoogleTest must not wrap the tests in a catch, or every
// "uncaught" exception would be caught by it.
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(catch_exceptions, false);
    return RUN_ALL_TESTS();
}
