// The Windows stand-in for fork: a second process running this same test
// binary in helper mode ("kviabdb_tests --kvi-helper=NAME ARG"). A helper
// is a named function registered with KVI_TEST_HELPER; it runs in a fresh
// process that has just loaded the library (the binary's image, and so the
// shared block, is the same), and its result is the process's exit code.
#ifndef KVI_TESTS_WIN32_HELPER_PROCESS_H
#define KVI_TESTS_WIN32_HELPER_PROCESS_H

#include <string>

namespace kvi::test {

using HelperFunction = int (*)(const std::string& arg);

// Registers a helper; returns true so it can initialize a static.
bool RegisterHelper(const char* name, HelperFunction function);
// Runs the helper named on the command line, if there is one: true with
// *exitCode set, false in a normal test run.
bool RunHelperFromCommandLine(int argc, char** argv, int* exitCode);

#define KVI_TEST_HELPER(name)                                                        \
    static int name(const std::string& arg);                                         \
    [[maybe_unused]] static const bool name##_registered =                         \
        ::kvi::test::RegisterHelper(#name, name);                                    \
    static int name([[maybe_unused]] const std::string& arg)

// A running helper process. The destructor kills it if it still runs.
class HelperProcess {
public:
    HelperProcess(const char* helper, const std::string& arg = "");
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    // The exit code, or -1 when it did not end within timeoutMs.
    int Wait(unsigned timeoutMs = 60000);
    // Ends it at once, as a crash would: nothing of its own runs.
    void Kill();

private:
    void* process_ = nullptr;
};

// A named event (manual reset) for signals between a test and its
// helpers. The test makes its events before it starts a helper, so that a
// signal is kept until it is waited for.
class NamedEvent {
public:
    explicit NamedEvent(const char* name);
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    void Signal();
    void Reset();
    // True when the event is or becomes signalled within timeoutMs.
    bool Wait(unsigned timeoutMs = 30000);

private:
    void* event_;
};

}  // namespace kvi::test

#endif
