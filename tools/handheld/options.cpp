#include "options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

// Key bits straight from the programs' own header, so the names bind to the
// values the programs test.
#include "nds.h"

namespace vxhandheld {

const char* const kUsage =
    "Usage: vx-handheld [options]\n"
    "\n"
    "Runs a pair of handheld programs on one simulated handheld.\n"
    "\n"
    "  --arm9 PATH             main-processor program (default: arm9_vxVer1.0 beside\n"
    "                          this binary or, installed, in " VX_INSTALLED_PROGRAM_DIR
    ";\n"
    "                          else the demo pair's demo_arm9)\n"
    "  --arm7 PATH             co-processor program (default: arm7_vxVer1.0, else demo_arm7)\n"
    "  --headless              no window, even where a display exists\n"
    "  --frames N              run N frames (0 .. N-1) of virtual time, then exit\n"
    "  --hold KEYS@FIRST-LAST  hold KEYS from the vertical blank that starts frame FIRST\n"
    "                          until the one that starts frame LAST+1; KEYS is a comma\n"
    "                          list of up down left right a b x y l r start select\n"
    "                          (frame 0 runs from power-on to the first vertical blank)\n"
    "  --screenshot FILE       on exit, a 256x384 PNG: top screen above bottom screen\n"
    "  --console FILE          on exit, the console text, one line per row\n"
    "  --trace FILE            stream the machine's trace to FILE\n"
    "  --no-access-point       no access point matches the stored Wi-Fi settings\n"
    "  --no-wfc-settings       the console holds no Wi-Fi Connection settings\n"
    "  --forward PORT=ADDR:HOSTPORT\n"
    "                          datagrams sent to PORT go to ADDR:HOSTPORT on the host\n"
    "  --realtime              pace virtual time to the wall clock (window default)\n"
    "  --fast                  run as fast as the host allows (headless default)\n"
    "  --scale N               window scale factor, 1..8 (default 2)\n"
    "  --help                  this text\n"
    "  --version               the version\n"
    "\n"
    "Window keys: arrows = d-pad, X = A, Z = B, Enter = Start, Backspace = Select,\n"
    "A = L, S = R, Q = X, W = Y; the left mouse button on the lower screen is the\n"
    "pen. Escape or closing the window quits.\n";

namespace {

struct KeyName {
    const char* name;
    uint32_t bit;
};

constexpr KeyName kKeyNames[] = {
    {"up", KEY_UP}, {"down", KEY_DOWN}, {"left", KEY_LEFT},   {"right", KEY_RIGHT},
    {"a", KEY_A},   {"b", KEY_B},       {"x", KEY_X},         {"y", KEY_Y},
    {"l", KEY_L},   {"r", KEY_R},       {"start", KEY_START}, {"select", KEY_SELECT},
};

template <typename T>
bool parseNumber(std::string_view text, T& out) {
    if (text.empty() || text.front() == '+' || text.front() == '-') return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::optional<Hold> parseHold(const std::string& text, std::string& error) {
    const auto at = text.rfind('@');
    const auto dash = at == std::string::npos ? std::string::npos : text.find('-', at);
    if (at == std::string::npos || dash == std::string::npos) {
        error = "--hold wants KEYS@FIRST-LAST, got '" + text + "'";
        return std::nullopt;
    }
    Hold hold;
    const auto keys = parseKeyList(text.substr(0, at), error);
    if (!keys) return std::nullopt;
    hold.keys = *keys;
    const std::string_view view(text);
    if (!parseNumber(view.substr(at + 1, dash - at - 1), hold.first) ||
        !parseNumber(view.substr(dash + 1), hold.last)) {
        error = "--hold frames must be whole numbers, got '" + text + "'";
        return std::nullopt;
    }
    if (hold.last < hold.first) {
        error = "--hold range ends before it starts: '" + text + "'";
        return std::nullopt;
    }
    return hold;
}

std::optional<vxsim::PortForward> parseForward(const std::string& text, std::string& error) {
    const auto eq = text.find('=');
    const auto colon = text.rfind(':');
    const auto bad = [&] {
        error = "--forward wants PORT=ADDR:PORT with a dotted IPv4 address, got '" + text + "'";
        return std::nullopt;
    };
    if (eq == std::string::npos || colon == std::string::npos || colon < eq) return bad();
    vxsim::PortForward forward;
    const std::string_view view(text);
    in_addr address{};
    const std::string host = text.substr(eq + 1, colon - eq - 1);
    if (!parseNumber(view.substr(0, eq), forward.port) || !parseNumber(view.substr(colon + 1), forward.hostPort) ||
        inet_pton(AF_INET, host.c_str(), &address) != 1 || forward.port == 0 || forward.hostPort == 0)
        return bad();
    forward.hostAddress = ntohl(address.s_addr);
    return forward;
}

}  // namespace

std::optional<uint32_t> parseKeyList(const std::string& list, std::string& error) {
    uint32_t keys = 0;
    size_t start = 0;
    while (true) {
        const auto comma = list.find(',', start);
        const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const KeyName* found = nullptr;
        for (const auto& key : kKeyNames)
            if (name == key.name) found = &key;
        if (!found) {
            error = name.empty() ? "empty key name in '" + list + "'" : "unknown key '" + name + "'";
            return std::nullopt;
        }
        keys |= found->bit;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return keys;
}

uint32_t heldAt(const std::vector<Hold>& holds, uint64_t frame) {
    uint32_t keys = 0;
    for (const auto& hold : holds)
        if (frame >= hold.first && frame <= hold.last) keys |= hold.keys;
    return keys;
}

namespace {

// The options that take no value, and what each sets.
struct Flag {
    const char* name;
    void (*set)(Options&);
};
const Flag kFlags[] = {
    {"--help", [](Options& o) { o.help = true; }},
    {"-h", [](Options& o) { o.help = true; }},
    {"--version", [](Options& o) { o.version = true; }},
    {"--headless", [](Options& o) { o.headless = true; }},
    {"--fast", [](Options& o) { o.realtime = false; }},
    {"--realtime", [](Options& o) { o.realtime = true; }},
    {"--no-access-point", [](Options& o) { o.matchingAccessPoint = false; }},
    {"--no-wfc-settings", [](Options& o) { o.storedSettings = false; }},
};

}  // namespace

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // Options that take a value: the next argument, or after '='.
        std::string value;
        bool hasValue = false;
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            hasValue = true;
            return true;
        };
        std::string name = arg;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                hasValue = true;
            }
        }
        const auto flag =
            std::find_if(std::begin(kFlags), std::end(kFlags), [&](const Flag& f) { return name == f.name; });

        if (flag != std::end(kFlags)) {
            if (hasValue) {
                error = name + " takes no value";
                return std::nullopt;
            }
            flag->set(options);
        } else if (name == "--arm9" || name == "--arm7" || name == "--screenshot" || name == "--console" ||
                   name == "--trace") {
            if (!takeValue()) return std::nullopt;
            if (value.empty()) {
                error = name + " needs a non-empty path";
                return std::nullopt;
            }
            if (name == "--arm9") options.arm9Path = value;
            else if (name == "--arm7") options.arm7Path = value;
            else if (name == "--screenshot") options.screenshotPath = value;
            else if (name == "--console") options.consolePath = value;
            else options.tracePath = value;
        } else if (name == "--frames") {
            if (!takeValue()) return std::nullopt;
            uint64_t frames = 0;
            if (!parseNumber(std::string_view(value), frames)) {
                error = "--frames wants a whole number, got '" + value + "'";
                return std::nullopt;
            }
            options.frames = frames;
        } else if (name == "--scale") {
            if (!takeValue()) return std::nullopt;
            int scale = 0;
            if (!parseNumber(std::string_view(value), scale) || scale < 1 || scale > 8) {
                error = "--scale wants a whole number from 1 to 8, got '" + value + "'";
                return std::nullopt;
            }
            options.scale = scale;
        } else if (name == "--hold") {
            if (!takeValue()) return std::nullopt;
            auto hold = parseHold(value, error);
            if (!hold) return std::nullopt;
            options.holds.push_back(*hold);
        } else if (name == "--forward") {
            if (!takeValue()) return std::nullopt;
            auto forward = parseForward(value, error);
            if (!forward) return std::nullopt;
            options.forwards.push_back(*forward);
        } else {
            error = "unknown argument '" + arg + "' (see --help)";
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace vxhandheld
