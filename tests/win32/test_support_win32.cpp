// The Windows form of the test fixtures. There is one Windows directory,
// the system's (C:\windows under Wine), so a TempWindowsDir makes and
// removes its KVI32 and KVI folders there, and the tests run one after
// the other. Each test starts on a zeroed shared block, as on a machine
// that has just started.
// <windows.h> with the macros that rename platform functions undone.
#include "platform/win32/windows_api.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "frame/process_state.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvi::test {

namespace {

std::string SystemWindowsDirectory() {
    char buffer[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) throw std::runtime_error("GetWindowsDirectoryA failed");
    return std::string(buffer, n);
}

void RemoveLibraryFolders(const std::string& dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir + "\\KVI32", ec);
    std::filesystem::remove_all(dir + "\\KVI", ec);
}

void ZeroSharedBlock() { std::memset(platform::ProcessSharedBlock(), 0, sizeof(platform::SharedBlock)); }

}  // namespace

TempWindowsDir::TempWindowsDir(bool withKvi32) : path_(SystemWindowsDirectory()) {
    RemoveLibraryFolders(path_);
    if (withKvi32) std::filesystem::create_directory(path_ + "\\KVI32");
    ZeroSharedBlock();
}

TempWindowsDir::~TempWindowsDir() {
    RemoveLibraryFolders(path_);
    ZeroSharedBlock();
}

std::string TempWindowsDir::BookPath(const std::string& name) const { return path_ + "\\KVI32\\" + name; }

void TempWindowsDir::Activate() const {}

void StartAsFreshProcess() { kvi::Process() = kvi::ProcessState{}; }

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
