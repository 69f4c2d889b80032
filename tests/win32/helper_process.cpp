#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <map>
#include <string>

#include "win32/helper_process.h"

namespace kvi::test {

namespace {

constexpr char kHelperFlag[] = "--kvi-helper=";

std::map<std::string, HelperFunction>& Helpers() {
    static std::map<std::string, HelperFunction> helpers;
    return helpers;
}

// Every event of the tests lives in one private namespace of names.
std::string EventName(const char* name) { return std::string("kvi_test_event_") + name; }

void* OpenOrCreateEvent(const char* name) {
    return ::CreateEventA(nullptr, TRUE, FALSE, EventName(name).c_str());
}

}  // namespace

bool RegisterHelper(const char* name, HelperFunction function) {
    Helpers()[name] = function;
    return true;
}

bool RunHelperFromCommandLine(int argc, char** argv, int* exitCode) {
    if (argc < 2 || std::strncmp(argv[1], kHelperFlag, sizeof kHelperFlag - 1) != 0) return false;
    const auto found = Helpers().find(argv[1] + sizeof kHelperFlag - 1);
    *exitCode = found == Helpers().end() ? 127 : found->second(argc > 2 ? argv[2] : "");
    return true;
}

HelperProcess::HelperProcess(const char* helper, const std::string& arg) {
    char self[MAX_PATH];
    if (!::GetModuleFileNameA(nullptr, self, sizeof self)) return;
    std::string command = std::string("\"") + self + "\" " + kHelperFlag + helper + " \"" + arg + "\"";
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
}

HelperProcess::~HelperProcess() {
    if (!process_) return;
    if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) Kill();
    ::CloseHandle(process_);
}

int HelperProcess::Wait(unsigned timeoutMs) {
    if (!process_ || ::WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

void HelperProcess::Kill() {
    if (!process_) return;
    ::TerminateProcess(process_, 9);
    ::WaitForSingleObject(process_, 30000);
}

NamedEvent::NamedEvent(const char* name) : event_(OpenOrCreateEvent(name)) {}

NamedEvent::~NamedEvent() {
    if (event_) ::CloseHandle(event_);
}

void NamedEvent::Signal() {
    if (event_) ::SetEvent(event_);
}

void NamedEvent::Reset() {
    if (event_) ::ResetEvent(event_);
}

bool NamedEvent::Wait(unsigned timeoutMs) {
    return event_ && ::WaitForSingleObject(event_, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace kvi::test
