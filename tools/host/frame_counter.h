// The frames a real desktop client presents, counted by a library preloaded
// into it (libvx_frame_counter.so) in a file both map: keys and screenshots
// wait for drawn frames, and a window still opening drops neither.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vxtest {

class FrameCounter {
public:
    // A fresh counter file under /tmp; null with the reason when it cannot be made.
    static std::unique_ptr<FrameCounter> create(std::string* error = nullptr);
    ~FrameCounter();
    FrameCounter(const FrameCounter&) = delete;
    FrameCounter& operator=(const FrameCounter&) = delete;

    // The setting that names the file to the preloaded counter.
    std::string setting() const { return "VX_SWAP_COUNTER=" + path_; }
    // Environment entries for the client: the preload and the setting.
    std::vector<std::string> clientEnv() const;

    uint64_t count() const { return *count_; }
    // Bounded: true once `n` frames more than now have been presented.
    bool waitFrames(uint64_t n, std::chrono::milliseconds timeout) const;
    // The client opens the file as it loads; once it runs the name may go.
    void removeFile();

private:
    FrameCounter() = default;
    volatile uint64_t* count_ = nullptr;
    std::string path_;
    bool removed_ = false;
};

}  // namespace vxtest
