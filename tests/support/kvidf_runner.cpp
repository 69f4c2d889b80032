#include "support/kvidf_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace kvi::test {

KvidfResult Kvidf(const TempWindowsDir& dir, const std::vector<std::string>& args, const std::string& input,
                  const std::vector<std::string>& launcher) {
    KvidfResult r;
#ifdef KVIDF_PATH
    const std::string outPath = dir.Path() + "/.stdout", errPath = dir.Path() + "/.stderr",
                      inPath = dir.Path() + "/.stdin";
    WriteFile(inPath, input);
    std::vector<std::string> all = launcher;
    for (const char* a : {KVIDF_PATH, "--windows-dir"}) all.emplace_back(a);
    all.push_back(dir.Path());
    all.insert(all.end(), args.begin(), args.end());
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(inPath.c_str(), O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    unlink(inPath.c_str());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
#else
    (void)dir;
    (void)args;
    (void)input;
    (void)launcher;
#endif
    return r;
}

void RunSteps(const TempWindowsDir& dir, const std::vector<KvidfStep>& steps) {
    for (const KvidfStep& s : steps) {
        std::string line;
        for (const std::string& a : s.args) line += a + " ";
        SCOPED_TRACE("kvidf " + line);
        const KvidfResult r = Kvidf(dir, s.args);
        EXPECT_EQ(r.exit, s.exit) << r.out << r.err;
        const std::string& where = s.exit == 0 ? r.out : r.err;
        EXPECT_NE(where.find(s.expect), std::string::npos) << "stdout:\n" << r.out << "stderr:\n" << r.err;
    }
}

}  // namespace kvi::test
