// Runs the built kvidf on a test's Windows directory and checks its
// answers, for the end-to-end tests.
#ifndef KVI_TESTS_SUPPORT_KVIDF_RUNNER_H
#define KVI_TESTS_SUPPORT_KVIDF_RUNNER_H

#include <string>
#include <vector>

#include "support/test_support.h"

namespace kvi::test {

struct KvidfResult {
    int exit = -1;
    std::string out, err;
};

// kvidf --windows-dir DIR args..., with input on its standard input. A
// launcher ({"setpriv", ...}) runs it as another account: it is looked up
// in PATH, and exit 127 tells that it could not be run.
KvidfResult Kvidf(const TempWindowsDir& dir, const std::vector<std::string>& args, const std::string& input = "",
                  const std::vector<std::string>& launcher = {});

struct KvidfStep {
    std::vector<std::string> args;
    int exit;
    std::string expect;  // a fragment of standard output, or of standard error when the step fails
};

void RunSteps(const TempWindowsDir& dir, const std::vector<KvidfStep>& steps);

}  // namespace kvi::test

#endif
