// Child processes for tests, benchmarks and tools: the real binaries run with
// stdin on /dev/null and their output captured, and every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace vxtest {

struct ProcessResult {
    int exitCode = -1;      // exit status, or -1 when the process died by a signal
    int signal = 0;         // the signal that ended it, 0 if it exited
    bool timedOut = false;  // wait() gave up and killed it
    std::string out, err;
};

class Process {
public:
    // argv[0] is looked up in PATH when it has no slash. extraEnv entries
    // "NAME=value" override the inherited environment; a bare "NAME" removes it.
    static std::unique_ptr<Process> start(const std::vector<std::string>& argv,
                                          const std::vector<std::string>& extraEnv = {}, std::string* error = nullptr);
    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the end of the process; kills it (SIGKILL) when the time runs out.
    ProcessResult wait(std::chrono::milliseconds timeout);
    void terminate(int sig = SIGTERM);
    std::string outSoFar();
    std::string errSoFar();
    ~Process();

    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

private:
    Process() = default;
    bool reap(bool block);
    void readLoop();
    void stopReader(std::chrono::milliseconds grace);

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    bool timedOut_ = false;
    int outFd_ = -1, errFd_ = -1, wakeRead_ = -1, wakeWrite_ = -1;
    std::mutex mutex_;
    std::string out_, err_;
    bool readerDone_ = false;
    std::thread reader_;
};

// What the process's standard output so far must look like for a wait to end.
using OutputTest = std::function<bool(const std::string& out)>;
OutputTest containing(std::string text);
OutputTest exactly(std::string text);

// The one wait for output: true once `done` accepts the standard output
// within `timeout`; false if it does not, or if the process ends first (its
// output read to the end before the last look).
bool waitForOutput(Process& process, const OutputTest& done, std::chrono::milliseconds timeout);
// The first capture of `pattern` in the standard output (the whole match if
// it has none), once it appears; nullopt as above.
std::optional<std::string> waitForOutput(Process& process, const std::regex& pattern,
                                         std::chrono::milliseconds timeout);

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::vector<std::string>& extraEnv = {});

// Path of a built artefact in the build's bin folder.
std::string binaryPath(const std::string& name);

// Environment entries for running a sanitized build's binary on the X, SDL
// and Mesa libraries, whose own process-long allocations are not its leaks.
// `graphics`: the program opens a GL window.
std::vector<std::string> sanitizerEnv(bool graphics);

// Environment entries that preload `library` into a real binary (and keep a
// sanitized binary's runtime content with the preload), with `settings`.
std::vector<std::string> preloadEnv(const std::string& library, const std::vector<std::string>& settings = {},
                                    bool graphics = true);

}  // namespace vxtest
