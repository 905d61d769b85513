#include <gtest/gtest.h>

#include <cstdlib>

// The request time-out of the default session, shortened so that an answer trickling in slower
// than that fails within seconds. It has to be in place before the session is made.
int main(int argc, char **argv)
{
    ::setenv("ORVANE_REQUEST_TIMEOUT_MS", "5000", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
