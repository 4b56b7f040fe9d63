// ./play.sh as a player runs it with a display: a private X server, the
// programs of this build (--bin), a private network for the fixed ports.
// Ctrl-C (SIGINT to its process group) or the end of a client must end every
// process it started, and the server's summary must still be shown. What it
// started is found by pid, through /proc, while it runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "private_net.h"
#include "process.h"
#include "temp_dir.h"
#include "test_env.h"
#include "xsession.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vxtest::Process;

constexpr auto kPatience = vxtest::patience(60s, 120s);

struct Started {
    pid_t pid;
    std::string startTime;  // tells the process from a later one with its pid
    std::string program;
};

// Fields of /proc/PID/stat after the command name: state is [0], the parent
// [1], the start time [19].
std::vector<std::string> statFields(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream rest(line.substr(close + 1));
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

// Every process below `root`, found by parent pids.
std::vector<Started> descendants(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto fields = statFields(std::stoi(name));
        if (fields.size() > 19) children.emplace(std::stoi(fields[1]), std::stoi(name));
    }
    std::vector<Started> found;
    std::vector<pid_t> todo = {root};
    while (!todo.empty()) {
        const pid_t parent = todo.back();
        todo.pop_back();
        for (auto [it, end] = children.equal_range(parent); it != end; ++it) {
            const auto fields = statFields(it->second);
            std::error_code ec;
            const auto exe = fs::read_symlink("/proc/" + std::to_string(it->second) + "/exe", ec);
            if (fields.size() > 19) found.push_back({it->second, fields[19], exe.filename().string()});
            todo.push_back(it->second);
        }
    }
    return found;
}

// Alive: the same process (same start time) and not a zombie.
bool stillRunning(const Started& p) {
    const auto fields = statFields(p.pid);
    return fields.size() > 19 && fields[19] == p.startTime && fields[0] != "Z";
}

class Play : public ::testing::Test {
protected:
    // The folder play.sh takes the programs from.
    virtual std::string programs() { return VX_BIN_DIR; }

    void SetUp() override {
        std::string error;
        if (!vxtest::enterPrivateNetwork(error)) GTEST_SKIP() << "no private network: " << error;
        // Whatever play.sh leaves behind becomes this process's child, to be
        // found, reaped and ended here.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        x_ = vxtest::Xvfb::start(30s, &error);
        ASSERT_TRUE(x_) << error;
        xc_ = vxtest::XClient::open(x_->display(), &error);
        ASSERT_TRUE(xc_) << error;

        auto env = x_->clientEnv();
        env.push_back("SDL_VIDEODRIVER");  // the programs choose for themselves
        auto more = vxtest::sanitizerEnv(true);
        env.insert(env.end(), more.begin(), more.end());
        // setsid: its own process group, as a terminal's foreground job has.
        play_ = Process::start({"setsid", VX_SOURCE_DIR "/play.sh", "--bin", programs()}, env, &error);
        ASSERT_TRUE(play_) << error;
        const bool bothRegistered = vxtest::waitForOutput(
            *play_,
            [](const std::string& out) {
                return out.find("(desktop) -> id") != std::string::npos &&
                       out.find("(handheld) -> id") != std::string::npos;
            },
            kPatience);
        ASSERT_TRUE(bothRegistered) << play_->outSoFar() << play_->errSoFar();
        started_ = descendants(play_->pid());
        std::multiset<std::string> programs;
        for (const auto& p : started_) programs.insert(p.program);
        for (const char* program : {"vx-server", "vxPCClient", "vx-handheld", "tail"})
            ASSERT_EQ(programs.count(program), 1u) << program << " among what play.sh started";
    }

    pid_t pidOf(const std::string& program) const {
        for (const auto& p : started_)
            if (p.program == program) return p.pid;
        return -1;
    }

    // The processes play.sh started that still run; each is then ended.
    std::vector<std::string> leftOver() {
        std::vector<std::string> left;
        for (const auto& p : started_) {
            waitpid(p.pid, nullptr, WNOHANG);  // an orphan that ended here
            if (!stillRunning(p)) continue;
            left.push_back(p.program + " (" + std::to_string(p.pid) + ")");
            kill(p.pid, SIGKILL);
            waitpid(p.pid, nullptr, 0);
        }
        return left;
    }

    // Ctrl-C ends everything, and the summary counts both registrations.
    void pressCtrlC() {
        ASSERT_EQ(kill(-play_->pid(), SIGINT), 0);
        const auto r = play_->wait(kPatience);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 130);
        EXPECT_NE(r.out.find("\nsummary: 2 registrations"), std::string::npos) << r.out;
        EXPECT_EQ(leftOver(), std::vector<std::string>{});
    }

    void TearDown() override {
        if (!started_.empty()) leftOver();
    }

    std::unique_ptr<vxtest::Xvfb> x_;
    std::unique_ptr<vxtest::XClient> xc_;
    std::unique_ptr<Process> play_;
    std::vector<Started> started_;
};

// The programs of this build, but a server that takes a second to bind, and
// an earlier session's log in the folder: the clients must wait for this
// server's `ready`, or the desktop's one registration is lost.
class PlayWithASlowServer : public Play {
protected:
    std::string programs() override {
        const fs::path bin = dir_.path() / "bin";
        fs::create_directories(bin);
        fs::create_directories(dir_.path() / "play");
        std::ofstream(dir_.path() / "play" / "server.log") << "listening desktop 127.0.0.1:9779\nready\n";
        for (const char* program : {"vxPCClient", "vx-handheld", "arm9_vxVer1.0", "arm7_vxVer1.0"})
            fs::create_symlink(fs::path(VX_BIN_DIR) / program, bin / program);
        std::ofstream(bin / "vx-server") << "#!/bin/sh\nsleep 1\nexec " VX_BIN_DIR "/vx-server \"$@\"\n";
        fs::permissions(bin / "vx-server", fs::perms::owner_all);
        return bin.string();
    }

    vxtest::TempDir dir_{"vx-play"};
};

TEST_F(Play, CtrlCEndsEverythingItStartedAndShowsTheSummary) { pressCtrlC(); }

TEST_F(PlayWithASlowServer, StartsTheClientsOnceItIsReady) { pressCtrlC(); }

TEST_F(Play, ClosingTheDesktopWindowEndsTheSession) {
    const auto window = xc_->findWindow(pidOf("vxPCClient"), "vxPCClient", kPatience, 512, 512);
    ASSERT_NE(window, 0u);
    vxtest::Image image;
    ASSERT_TRUE(xc_->waitForPicture(
        window, kPatience, [](const vxtest::Image& i) { return vxtest::litPixels(i).count > 0; }, image))
        << "the cross is drawn";
    ASSERT_TRUE(xc_->closeWindow(window));
    const auto r = play_->wait(kPatience);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\nsummary: 2 registrations"), std::string::npos) << r.out;
    EXPECT_EQ(leftOver(), std::vector<std::string>{});
}

}  // namespace
