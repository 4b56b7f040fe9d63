#include "frame_counter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "process.h"

namespace vxtest {

namespace {
constexpr size_t kMapSize = 4096;
}

std::unique_ptr<FrameCounter> FrameCounter::create(std::string* error) {
    // Several counters in one process (a test per client) need names of their own.
    static std::atomic<int> made{0};
    std::string path = "/tmp/vx_frames_" + std::to_string(getpid()) + "_" + std::to_string(made++);
    auto fail = [&](const std::string& what) -> std::unique_ptr<FrameCounter> {
        if (error) *error = what + " " + path + ": " + std::strerror(errno);
        return nullptr;
    };
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return fail("cannot create");
    void* map = ftruncate(fd, kMapSize) == 0 ? mmap(nullptr, kMapSize, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    ::close(fd);
    if (map == MAP_FAILED) {
        auto result = fail("cannot map");
        unlink(path.c_str());
        return result;
    }
    std::unique_ptr<FrameCounter> counter(new FrameCounter);
    counter->count_ = static_cast<volatile uint64_t*>(map);
    counter->path_ = path;
    return counter;
}

FrameCounter::~FrameCounter() {
    munmap(const_cast<uint64_t*>(count_), kMapSize);
    removeFile();
}

std::vector<std::string> FrameCounter::clientEnv() const {
    return preloadEnv(binaryPath("libvx_frame_counter.so"), {setting()}, true);
}

bool FrameCounter::waitFrames(uint64_t n, std::chrono::milliseconds timeout) const {
    const uint64_t target = *count_ + n;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (*count_ < target) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void FrameCounter::removeFile() {
    if (!removed_) unlink(path_.c_str());
    removed_ = true;
}

}  // namespace vxtest
