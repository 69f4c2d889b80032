// Fixtures shared by the tests: a private Windows directory per test and a
// way to run code in a child process.
#ifndef KVI_TESTS_SUPPORT_TEST_SUPPORT_H
#define KVI_TESTS_SUPPORT_TEST_SUPPORT_H

#include <functional>
#include <string>

namespace kvi::test {

// A fresh Windows directory (with its KVI32 folder unless told otherwise),
// made the current one through KVI_WINDOWS_DIR. Two of them behave like
// two machines. The destructor removes the folder and the shared memory
// made for it.
class TempWindowsDir {
public:
    explicit TempWindowsDir(bool withKvi32 = true);
    ~TempWindowsDir();
    TempWindowsDir(const TempWindowsDir&) = delete;
    TempWindowsDir& operator=(const TempWindowsDir&) = delete;

    const std::string& Path() const { return path_; }
    // DIR/KVI32/name
    std::string BookPath(const std::string& name) const;
    // Makes this directory the current one again (after another was used).
    void Activate() const;

private:
    std::string path_;
    // The Windows directory before this one, current again afterwards: a
    // directory made inside a test leaves the test's own in place, so the
    // library never falls back to the machine's default folder.
    bool hadPrevious_ = false;
    std::string previous_;
};

// In a forked child: forget the library state inherited from the parent,
// so the child starts as a process that has just loaded the library (its
// KviDfInitialize then opens the mutexes of the current Windows directory).
void StartAsFreshProcess();

// Runs body in a forked child and returns its exit status (body's result),
// or -signal when it was killed.
int RunInChild(const std::function<int()>& body);

// Reads / writes a whole file; Read gives "" when it is missing.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Temporary files of commits in folder ("*.tmp").
int TemporaryFileCount(const std::string& folder);

}  // namespace kvi::test

#endif
