#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

extern char** environ;

namespace vxtest {

namespace {

std::vector<std::string> buildEnvironment(const std::vector<std::string>& extra) {
    std::map<std::string, std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& entry : extra) {
        auto eq = entry.find('=');
        if (eq == std::string::npos) env.erase(entry);
        else env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    std::vector<std::string> out;
    for (const auto& [k, v] : env) out.push_back(k + "=" + v);
    return out;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::unique_ptr<Process> Process::start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                                        std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<Process> {
        if (error) *error = why;
        return nullptr;
    };
    if (argv.empty()) return fail("empty command line");

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed (the parent has threads).
    std::vector<std::string> envStrings = buildEnvironment(extraEnv);
    std::vector<char*> envp, args;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings(argv);
    for (auto& s : argStrings) args.push_back(s.data());
    args.push_back(nullptr);

    int outPipe[2], errPipe[2], execPipe[2], wakePipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return fail(std::strerror(errno));
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return fail(std::strerror(errno));
    }
    if (pipe2(execPipe, O_CLOEXEC) != 0 || pipe2(wakePipe, O_CLOEXEC) != 0) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) ::close(fd);
        return fail(std::strerror(errno));
    }
    int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_t pid = fork();
    if (pid < 0) {
        int e = errno;
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], execPipe[0], execPipe[1], wakePipe[0],
                       wakePipe[1], devNull})
            if (fd >= 0) ::close(fd);
        return fail(std::strerror(e));
    }
    if (pid == 0) {
        if (devNull >= 0) dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execvpe(args[0], args.data(), envp.data());
        int e = errno;
        ssize_t ignored = write(execPipe[1], &e, sizeof e);
        (void)ignored;
        _exit(127);
    }

    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(execPipe[1]);
    if (devNull >= 0) ::close(devNull);

    std::unique_ptr<Process> p(new Process);
    p->pid_ = pid;
    p->outFd_ = outPipe[0];
    p->errFd_ = errPipe[0];
    p->wakeRead_ = wakePipe[0];
    p->wakeWrite_ = wakePipe[1];

    // The exec pipe closes on a successful exec, or carries its errno.
    int childErrno = 0;
    ssize_t n;
    do {
        n = read(execPipe[0], &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    ::close(execPipe[0]);
    if (n == static_cast<ssize_t>(sizeof childErrno)) {
        p->reap(true);
        return fail("cannot run " + argv[0] + ": " + std::strerror(childErrno));
    }

    p->reader_ = std::thread([raw = p.get()] { raw->readLoop(); });
    return p;
}

void Process::readLoop() {
    char buf[4096];
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3] = {
            {outOpen ? outFd_ : -1, POLLIN, 0}, {errOpen ? errFd_ : -1, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        int r = poll(fds, 3, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[2].revents) break;
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents) continue;
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                (i == 0 ? out_ : err_).append(buf, static_cast<size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                (i == 0 ? outOpen : errOpen) = false;
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    readerDone_ = true;
}

void Process::stopReader(std::chrono::milliseconds grace) {
    if (!reader_.joinable()) return;
    // Output still in the pipes is collected first; a grandchild holding a
    // pipe open must not keep us here for ever.
    auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (readerDone_) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    char c = 1;
    ssize_t ignored = write(wakeWrite_, &c, 1);
    (void)ignored;
    reader_.join();
}

bool Process::reap(bool block) {
    if (reaped_) return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_) {
        reaped_ = true;
        status_ = status;
        return true;
    }
    if (r < 0) {  // not our child any more; nothing left to wait for
        reaped_ = true;
        status_ = 0;
        return true;
    }
    return false;
}

bool Process::running() { return !reap(false); }

ProcessResult Process::wait(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut_ = true;
            ::kill(pid_, SIGKILL);
            reap(true);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stopReader(std::chrono::milliseconds(2000));
    ProcessResult res;
    res.timedOut = timedOut_;
    if (WIFEXITED(status_)) {
        res.exitCode = WEXITSTATUS(status_);
    } else if (WIFSIGNALED(status_)) {
        res.signal = WTERMSIG(status_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    res.out = out_;
    res.err = err_;
    return res;
}

void Process::terminate(int sig) {
    if (!reaped_) ::kill(pid_, sig);
}

std::string Process::outSoFar() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string Process::errSoFar() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

Process::~Process() {
    if (!reap(false)) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    stopReader(std::chrono::milliseconds(500));
    closeFd(outFd_);
    closeFd(errFd_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

OutputTest containing(std::string text) {
    return [text = std::move(text)](const std::string& out) { return out.find(text) != std::string::npos; };
}

OutputTest exactly(std::string text) {
    return [text = std::move(text)](const std::string& out) { return out == text; };
}

bool waitForOutput(Process& process, const OutputTest& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done(process.outSoFar())) return true;
        if (!process.running()) {
            process.wait(std::chrono::milliseconds(0));  // collects what is still in the pipe
            return done(process.outSoFar());
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::optional<std::string> waitForOutput(Process& process, const std::regex& pattern,
                                         std::chrono::milliseconds timeout) {
    std::string found;
    auto search = [&](const std::string& out) {
        std::smatch m;
        if (!std::regex_search(out, m, pattern)) return false;
        found = m.size() > 1 ? m[1].str() : m[0].str();
        return true;
    };
    if (!waitForOutput(process, search, timeout)) return std::nullopt;
    return found;
}

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::vector<std::string>& extraEnv) {
    std::string error;
    auto p = Process::start(argv, extraEnv, &error);
    if (!p) {
        ProcessResult r;
        r.err = error;
        return r;
    }
    return p->wait(timeout);
}

std::string binaryPath(const std::string& name) { return std::string(VX_BIN_DIR) + "/" + name; }

std::vector<std::string> sanitizerEnv(bool graphics) {
#ifdef VX_SANITIZED
    const char* lsan = std::getenv("LSAN_OPTIONS");
    std::string opts = lsan && *lsan ? std::string(lsan) + ":" : std::string();
    // Mesa unloads its driver before the leak check runs, leaving leaks that
    // cannot be attributed (or suppressed) by name; a program that draws is
    // checked for memory errors but not for leaks.
    if (graphics) return {"LSAN_OPTIONS=" + opts + "detect_leaks=0"};
    return {"LSAN_OPTIONS=" + opts + "suppressions=" VX_LSAN_SUPPRESSIONS ":print_suppressions=0"};
#else
    (void)graphics;
    return {};
#endif
}

std::vector<std::string> preloadEnv(const std::string& library, const std::vector<std::string>& settings,
                                    bool graphics) {
    std::vector<std::string> env(settings);
    env.push_back("LD_PRELOAD=" + library);
#ifdef VX_SANITIZED
    // The sanitizer runtime insists on coming first; the preload only adds
    // a few wrappers that call through, so its order is harmless here.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string opts = asan && *asan ? std::string(asan) + ":" : std::string();
    env.push_back("ASAN_OPTIONS=" + opts + "verify_asan_link_order=0");
#endif
    auto more = sanitizerEnv(graphics);
    env.insert(env.end(), more.begin(), more.end());
    return env;
}

}  // namespace vxtest
