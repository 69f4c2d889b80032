// The Windows test binary's main: a helper process when the command line
// names a helper, else the GoogleTest run.
#include <gtest/gtest.h>

#include "win32/helper_process.h"

int main(int argc, char** argv) {
    int exitCode = 0;
    if (kvi::test::RunHelperFromCommandLine(argc, argv, &exitCode)) return exitCode;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
