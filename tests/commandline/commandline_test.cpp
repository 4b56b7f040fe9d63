// What every program says to --help and --version, and that saying it looks
// up no name. The resolver cannot show every lookup (it sends no query for a
// name like "--help", yet reads the hosts file for it), so the preload
// library fails every lookup at once and writes it down: no query leaves.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "temp_dir.h"
#include "test_env.h"

namespace {

using namespace std::chrono_literals;
using vxtest::ProcessResult;

constexpr auto kRunTimeout = 20s;

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }

    ProcessResult run(const std::vector<std::string>& argv) {
        auto full = argv;
        full[0] = vxtest::binaryPath(argv[0]);
        return vxtest::runProcess(full, kRunTimeout, vxtest::injectionEnv({"VX_NO_LOOKUPS=" + log_}, false));
    }

    // The lookups made since the last call, one "FUNCTION NAME" a line.
    std::string lookups() {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        std::ofstream(log_, std::ios::trunc);
        return text.str();
    }

    vxtest::TempDir dir_{"vx-commandline"};
    const std::string log_ = dir_.file("lookups");
};

// The watch itself: a host name is looked up, and refused.
TEST_F(CommandLine, AHostNameIsLookedUpAndRefused) {
    const auto r = run({"vxPCClient", "game.vx.invalid"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.out, "\nerror resolving DNS\n");
    EXPECT_EQ(lookups(), "gethostbyname game.vx.invalid\n");
}

class EveryProgram : public CommandLine, public ::testing::WithParamInterface<std::string> {};

TEST_P(EveryProgram, AnswersHelpAndVersionWithoutANameLookup) {
    const std::string program = GetParam();
    const auto version = run({program, "--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out, program + " (vxtanks) " VX_VERSION "\n");
    EXPECT_EQ(lookups(), "") << "for --version";

    const auto help = run({program, "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.out.rfind("Usage: " + program + " ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(lookups(), "") << "for --help";
}

INSTANTIATE_TEST_SUITE_P(Programs, EveryProgram,
                         ::testing::Values("vxPCClient", "vx-server", "vx-handheld", "vx-romtool",
                                           "vx-desktop-session"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name;
                             for (char c : info.param)
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             return name;
                         });

// Anything that begins with '-' is an option to the desktop client, wherever
// it stands; an unknown one is one line and status 1, never a host name.
TEST_F(CommandLine, DesktopClientTakesNoOptionForAHostName) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--verbose"}, {"-"}, {"-x", "127.0.0.1"}, {"127.0.0.1", "--port=80"}}) {
        std::vector<std::string> argv = {"vxPCClient"};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto r = run(argv);
        const std::string option = args[0][0] == '-' ? args[0] : args[1];
        EXPECT_EQ(r.exitCode, 1) << option;
        EXPECT_EQ(r.out, "vxPCClient: unknown option '" + option + "' (see --help)\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(lookups(), "") << option;
    }
    // Options end the run before anything else is looked at.
    EXPECT_EQ(run({"vxPCClient", "--help", "a", "b"}).exitCode, 0);
    EXPECT_EQ(lookups(), "");
}

}  // namespace
