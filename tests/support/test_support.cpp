#include "support/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "frame/process_state.h"
#include "platform/platform.h"

namespace kvi::test {

TempWindowsDir::TempWindowsDir(bool withKvi32) {
    char pattern[] = "/tmp/kvitest.XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* previous = getenv("KVI_WINDOWS_DIR")) {
        hadPrevious_ = true;
        previous_ = previous;
    }
    if (withKvi32) std::filesystem::create_directory(path_ + "/KVI32");
    Activate();
}

TempWindowsDir::~TempWindowsDir() {
    Activate();
    platform::RemoveMachineState();
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    if (hadPrevious_) {
        setenv("KVI_WINDOWS_DIR", previous_.c_str(), 1);
    } else {
        unsetenv("KVI_WINDOWS_DIR");
    }
}

std::string TempWindowsDir::BookPath(const std::string& name) const {
    return path_ + "/KVI32/" + name;
}

void TempWindowsDir::Activate() const { setenv("KVI_WINDOWS_DIR", path_.c_str(), 1); }

void StartAsFreshProcess() { kvi::Process() = kvi::ProcessState{}; }

int RunInChild(const std::function<int()>& body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1000;
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1001;
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

int TemporaryFileCount(const std::string& folder) {
    int n = 0;
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = f.path().filename().string();
        n += name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0;
    }
    return n;
}

}  // namespace kvi::test
