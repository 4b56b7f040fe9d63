// The Debian package built from this build: its control fields, what it
// holds, and its programs running from where dpkg-deb unpacked them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "process.h"
#include "temp_dir.h"
#include "udp_peer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vxtest::Process;

constexpr auto kToolTimeout = 90s;
constexpr auto kPatience = 40s;

std::string controlField(const fs::path& deb, const std::string& name) {
    auto result = vxtest::runProcess({"dpkg-deb", "--field", deb.string(), name}, kToolTimeout);
    while (!result.out.empty() && result.out.back() == '\n') result.out.pop_back();
    return result.out;
}

std::set<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::set<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.insert(line);
    return lines;
}

std::string upperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The files a running process has mapped whose name ends in `name`.
std::vector<std::string> mappedFiles(pid_t pid, const std::string& name) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> found;
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string file = line.substr(slash);
        if (file.size() >= name.size() && file.compare(file.size() - name.size(), name.size(), name) == 0)
            found.insert(file);
    }
    return {found.begin(), found.end()};
}

TEST(Package, BuildsUnpacksAndRunsWithNothingFromTheTests) {
    vxtest::TempDir dir("vx-package");
    ASSERT_TRUE(dir.ok());
    const auto built = vxtest::runProcess(
        {"cpack", "-G", "DEB", "--config", VX_BUILD_DIR "/CPackConfig.cmake", "-B", (dir.path() / "out").string()},
        kToolTimeout);
    ASSERT_EQ(built.exitCode, 0) << built.out << built.err;
    std::vector<fs::path> debs;
    for (const auto& entry : fs::directory_iterator(dir.path() / "out"))
        if (entry.path().extension() == ".deb") debs.push_back(entry.path());
    ASSERT_EQ(debs.size(), 1u) << built.out;
    const fs::path deb = debs.front();

    EXPECT_EQ(controlField(deb, "Package"), "vxtanks");
    EXPECT_EQ(controlField(deb, "Version"), VX_PACKAGE_VERSION);
    EXPECT_NE(controlField(deb, "Maintainer").find('<'), std::string::npos);
    EXPECT_NE(controlField(deb, "Description"), "");
    // Versioned entries for the C and SDL libraries come only from dpkg-shlibdeps.
    const std::string depends = controlField(deb, "Depends");
    EXPECT_TRUE(std::regex_search(depends, std::regex(R"(libc6 \(>= [0-9])"))) << depends;
    EXPECT_TRUE(std::regex_search(depends, std::regex(R"(libsdl1\.2debian \(>= [0-9])"))) << depends;

    const fs::path root = dir.path() / "root";
    const auto unpacked = vxtest::runProcess({"dpkg-deb", "-x", deb.string(), root.string()}, kToolTimeout);
    ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err;
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory()) files.insert(fs::relative(entry.path(), root).string());
    for (const char* expected :
         {"usr/bin/vxPCClient", "usr/bin/vx-server", "usr/bin/vx-handheld", "usr/bin/vx-romtool",
          "usr/lib/vxtanks/libvxplatform.so", "usr/lib/vxtanks/arm9_vxVer1.0", "usr/lib/vxtanks/arm7_vxVer1.0",
          "usr/share/vxtanks/wireshark/vx.lua", "usr/share/doc/vxtanks/README.md"})
        EXPECT_EQ(files.count(expected), 1u) << expected;

    // A man page for each program, made from what it says to --help and
    // --version; and each program answers from where the package puts it.
    for (const std::string program : {"vxPCClient", "vx-server", "vx-handheld", "vx-romtool"}) {
        const std::string page = "usr/share/man/man1/" + program + ".1.gz";
        ASSERT_EQ(files.count(page), 1u) << page;
        const auto text = vxtest::runProcess({"gzip", "-dc", (root / page).string()}, kToolTimeout);
        EXPECT_EQ(text.exitCode, 0) << page;
        EXPECT_NE(text.out.find(".TH " + upperCase(program) + " \"1\""), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("\"vxtanks " VX_PACKAGE_VERSION "\" \"User Commands\""), std::string::npos) << text.out;
        EXPECT_NE(text.out.find(".SH SYNOPSIS"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("\\-\\-help"), std::string::npos) << text.out;
        const auto version =
            vxtest::runProcess({(root / "usr/bin" / program).string(), "--version"}, kToolTimeout, {"LD_LIBRARY_PATH"});
        EXPECT_EQ(version.out, program + " (vxtanks) " VX_PACKAGE_VERSION "\n") << version.err;
    }

    // The device ROM, as the device build made it.
    const std::string rom = VX_PACKAGE_ROM;
    if (rom.empty()) {
        EXPECT_EQ(files.count("usr/share/vxtanks/vxVer1.0.nds"), 0u);
    } else {
        ASSERT_EQ(files.count("usr/share/vxtanks/vxVer1.0.nds"), 1u);
        const std::string packed = vxtest::readFile(root / "usr/share/vxtanks/vxVer1.0.nds");
        EXPECT_FALSE(packed.empty());
        EXPECT_TRUE(packed == vxtest::readFile(rom)) << "differs from " << rom;
    }
    // What the test, benchmark and host-tool folders build, and the files they hold.
    auto testTree = linesOf(VX_TEST_TREE_NAMES);
    ASSERT_GT(testTree.size(), 10u);  // the list is really there
    for (const char* folder : {"tests", "bench", "tools/host"})
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(VX_SOURCE_DIR) / folder))
            if (!entry.is_directory()) testTree.insert(entry.path().filename().string());
    for (const auto& file : files)
        EXPECT_EQ(testTree.count(fs::path(file).filename().string()), 0u) << file << " comes from the test tree";

    // The unpacked handheld, with its default programs, registers with the
    // unpacked server; nothing from the build tree is loaded.
    const std::string address = vxtest::uniqueLoopbackAddress();
    std::string error;
    auto server = Process::start({(root / "usr/bin/vx-server").string(), "--bind", address, "--handheld-port", "0"},
                                 {"LD_LIBRARY_PATH"}, &error);
    ASSERT_TRUE(server) << error;
    const auto port = waitForOutput(*server, std::regex("listening handheld [0-9.]+:([0-9]+)"), 10s);
    ASSERT_TRUE(port) << server->outSoFar() << server->errSoFar();
    ASSERT_TRUE(waitForOutput(*server, std::regex("(^|\n)ready\n"), 10s)) << server->outSoFar();
    auto handheld = Process::start(
        {(root / "usr/bin/vx-handheld").string(), "--headless", "--fast", "--forward", "80=" + address + ":" + *port},
        {"LD_LIBRARY_PATH", "DISPLAY"}, &error);
    ASSERT_TRUE(handheld) << error;
    EXPECT_TRUE(waitForOutput(*server, std::regex(R"(register [0-9.:]+ \(handheld\) -> id [0-9]+)"), kPatience))
        << server->outSoFar() << handheld->errSoFar();
    for (const char* name : {"/libvxplatform.so", "/arm9_vxVer1.0", "/arm7_vxVer1.0"}) {
        const auto mapped = mappedFiles(handheld->pid(), name);
        ASSERT_EQ(mapped.size(), 1u) << name;
        EXPECT_EQ(fs::path(mapped.front()), root / "usr/lib/vxtanks" / fs::path(name).filename());
    }
    handheld->terminate(SIGTERM);
    const auto handheldEnd = handheld->wait(10s);
    EXPECT_EQ(handheldEnd.exitCode, 0) << handheldEnd.err;
    server->terminate(SIGTERM);
    EXPECT_EQ(server->wait(10s).exitCode, 0);
}

}  // namespace
