#include "capture.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

namespace vxshark {

using namespace std::chrono_literals;

namespace {

constexpr auto kCaptureStart = 20s;
constexpr auto kMarkerSeen = 10s;
constexpr auto kMarkerResend = 200ms;
constexpr auto kTsharkTimeout = 60s;

// The expert infos the dissector can raise, by name.
const char* const kExpertNames[] = {"vx.registration.not_addme", "vx.ack.short", "vx.state.bad_size"};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!line.empty() && line.back() == separator) parts.emplace_back();
    return parts;
}

template <typename T>
std::optional<T> number(const std::string& text) {
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string> tsharkCommand(const std::string& file, const std::vector<std::string>& preferences) {
    std::vector<std::string> argv{"tshark", "-n", "-r", file, "-X", std::string("lua_script:") + VX_DISSECTOR};
    for (const auto& preference : preferences) {
        argv.push_back("-o");
        argv.push_back(preference);
    }
    argv.push_back("-Y");
    argv.push_back("vx");
    return argv;
}

}  // namespace

std::unique_ptr<Capture> Capture::start(const std::string& address, std::string& error, bool& denied) {
    denied = false;
    std::unique_ptr<Capture> capture(new Capture);
    capture->marker_ = vxtest::UdpPeer::bind(address, 0, &error);
    if (!capture->marker_) return nullptr;
    // The pcapng stream goes to a pipe, which dumpcap flushes after every packet.
    capture->dumpcap_ =
        vxtest::Process::start({"dumpcap", "-q", "-i", "lo", "-f", "udp and host " + address, "-w", "-"}, {}, &error);
    if (!capture->dumpcap_) return nullptr;
    if (!capture->mark(error)) {
        const std::string why = lower(capture->dumpcap_->errSoFar());
        denied = why.find("permission") != std::string::npos || why.find("not permitted") != std::string::npos;
        return nullptr;
    }
    return capture;
}

bool Capture::mark(std::string& error) {
    const std::string payload = "vx-capture-mark-" + std::to_string(getpid()) + "-" + std::to_string(++marks_);
    const sockaddr_in self = vxtest::makeAddress(marker_->address(), marker_->port());
    // Sent again and again: one sent before the capture is live is never seen.
    const auto deadline = std::chrono::steady_clock::now() + (marks_ == 1 ? kCaptureStart : kMarkerSeen);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!dumpcap_->running()) {
            error = "dumpcap ended: " + dumpcap_->errSoFar();
            return false;
        }
        marker_->sendTo(self, payload.data(), payload.size());
        if (vxtest::waitForOutput(*dumpcap_, vxtest::containing(payload), kMarkerResend)) return true;
    }
    error = "dumpcap did not capture a datagram on lo in time: " + dumpcap_->errSoFar();
    return false;
}

bool Capture::finish(const std::string& path, std::string& error) {
    if (!mark(error)) return false;
    dumpcap_->terminate(SIGTERM);
    const auto result = dumpcap_->wait(10s);
    if (result.exitCode != 0) {
        error = "dumpcap did not end cleanly: " + result.err;
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << result.out;
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

Capture::~Capture() = default;

std::optional<std::vector<VxRow>> readVx(const std::string& file, const std::vector<std::string>& preferences,
                                         std::string& error) {
    auto argv = tsharkCommand(file, preferences);
    for (const char* option : {"-T", "fields", "-E", "separator=/t", "-E", "occurrence=f"}) argv.push_back(option);
    const std::vector<std::string> fields{"ip.src",    "udp.srcport", "ip.dst", "udp.dstport", "vx.kind",
                                          "vx.userid", "vx.x",        "vx.y",   "vx.length",   "_ws.expert.message"};
    for (const auto& field : fields) {
        argv.push_back("-e");
        argv.push_back(field);
    }
    for (const char* name : kExpertNames) {
        argv.push_back("-e");
        argv.push_back(name);
    }
    const auto result = vxtest::runProcess(argv, kTsharkTimeout);
    if (result.exitCode != 0) {
        error = "tshark failed (" + std::to_string(result.exitCode) + "): " + result.err;
        return std::nullopt;
    }
    std::vector<VxRow> rows;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto cells = split(line, '\t');
        if (cells.size() != fields.size() + std::size(kExpertNames)) {
            error = "unexpected tshark line: " + line;
            return std::nullopt;
        }
        VxRow row;
        row.source = cells[0] + ":" + cells[1];
        row.destination = cells[2] + ":" + cells[3];
        row.kind = cells[4];
        row.userID = number<int32_t>(cells[5]);
        row.x = number<int32_t>(cells[6]);
        row.y = number<int32_t>(cells[7]);
        row.length = number<uint32_t>(cells[8]);
        row.expertText = cells[9];
        for (size_t i = 0; i < std::size(kExpertNames); ++i)
            if (!cells[fields.size() + i].empty()) row.experts.push_back(kExpertNames[i]);
        rows.push_back(row);
    }
    return rows;
}

std::string summaryListing(const std::string& file) {
    // The default columns, with the ports that tell the clients apart.
    const auto result = vxtest::runProcess(
        tsharkCommand(
            file,
            {R"(gui.column.format:"No.","%m","Source","%us","Port","%uS","Destination","%ud","Port","%uD","Info","%i")"}),
        kTsharkTimeout);
    return result.out + result.err;
}

}  // namespace vxshark
