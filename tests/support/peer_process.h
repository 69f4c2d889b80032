// A forked process that runs beside the test, with one byte of signalling
// each way. Unlike RunInChild, the child starts as fork leaves it: the
// library's own fork handling is what makes it a fresh process.
#ifndef KVI_TESTS_SUPPORT_PEER_PROCESS_H
#define KVI_TESTS_SUPPORT_PEER_PROCESS_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace kvi::test {

class Peer {
public:
    // body's result is the child's exit status; 99 when it throws.
    explicit Peer(const std::function<int(Peer&)>& body) {
        if (pipe(toChild_) != 0 || pipe(toParent_) != 0) return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild_[1]);
            close(toParent_[0]);
            int code = 99;
            try {
                code = body(*this);
            } catch (...) {
            }
            _exit(code);
        }
        close(toChild_[0]);
        close(toParent_[1]);
    }
    ~Peer() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Join();
        }
        close(toChild_[1]);
        close(toParent_[0]);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // In the child.
    void Notify() { (void)!write(toParent_[1], "x", 1); }
    bool Await() {
        char c;
        return read(toChild_[0], &c, 1) == 1;
    }
    // In the parent.
    void Tell() { (void)!write(toChild_[1], "x", 1); }
    bool Heard() {
        char c;
        return read(toParent_[0], &c, 1) == 1;
    }
    void Kill() { kill(pid_, SIGKILL); }
    // The exit status, or -signal.
    int Join() {
        int status = 0;
        const pid_t waited = waitpid(pid_, &status, 0);
        pid_ = -1;
        if (waited < 0) return -1000;
        return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    }

private:
    pid_t pid_ = -1;
    int toChild_[2] = {-1, -1};
    int toParent_[2] = {-1, -1};
};

}  // namespace kvi::test

#endif
