#include "options.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vxserver {
namespace {

bool parseInteger(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

// Dotted IPv4 first; a name is resolved too so "localhost" works.
bool resolveIPv4(const std::string& text, in_addr& out) {
    if (inet_pton(AF_INET, text.c_str(), &out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

}  // namespace

const char* usageLine() {
    return "usage: vx-server [--bind ADDR] [--desktop-port N] [--handheld-port N] "
           "[--state-port N] [--first-id N] [--max-players N]";
}

std::string helpText() {
    // help2man takes the synopsis from a line that starts "Usage:".
    return "Usage:" + std::string(usageLine()).substr(std::strlen("usage:")) +
           "\n"
           "\n"
           "Local game server for the vx tank clients (UDP, IPv4).\n"
           "  --bind ADDR          address to listen on (default 127.0.0.1)\n"
           "  --desktop-port N     registration port of the desktop client (default 9779)\n"
           "  --handheld-port N    registration port of the handheld client (default 80)\n"
           "  --state-port N       port for 12-byte state records (default 9780)\n"
           "  --first-id N         first player id handed out (default 1)\n"
           "  --max-players N      players kept at once, 1 to " +
           std::to_string(kMaxPlayersLimit) +
           " (default 64)\n"
           "  --help               this text\n"
           "  --version            the version\n"
           "Port 0 picks a free port; the 'listening' lines show which.\n"
           "\n"
           "Each \"ADDME\" on a registration port is answered, from that port, with a\n"
           "4-byte little-endian id. Ids count up from --first-id. A source address that\n"
           "registers again (the handheld does on every press of A, without reading the\n"
           "answer) keeps its id and is sent it again, so its state records stay valid.\n"
           "State records are accepted from registered source addresses; if a sender's\n"
           "address is unknown but exactly one player registered from its port, the\n"
           "record is taken as that player's.\n"
           "When --max-players are registered, a new source takes the slot of the player\n"
           "that has been silent longest (no registration and no state record for the\n"
           "longest time). That player's later records are ignored as from an unknown\n"
           "player; if it registers again it is a new player. Ids are never reused: once\n"
           "all 2^32 have been handed out, new sources are ignored.\n"
           "\n"
           "Output, one line each, flushed as soon as what is waiting has been handled:\n"
           "  listening desktop|handheld|state ADDR:PORT\n"
           "  ready\n"
           "  register ADDR:PORT (desktop|handheld) -> id N [(again)|(replaces id M of ADDR:PORT)]\n"
           "  register id N from ADDR:PORT: M more times (again)\n"
           "  registered N more players, ids A to B[, K of them replacing others]\n"
           "             [; those replaced had C more changes, T more times (again)]\n"
           "  state id N from ADDR:PORT: X=x Y=y userID=u      (only when it changed)\n"
           "  state id N from ADDR:PORT: M more changes, last X=x Y=y userID=u\n"
           "  ignored: REASON: DETAILS\n"
           "  ignored N more (REASON: count, ...)\n"
           "  summary: R registrations, P players, S state records, I ignored, D datagrams,\n"
           "           E players replaced (SIGINT|SIGTERM)\n"
           "REASON is one of: wrong size, wrong payload, unknown player, ids used up.\n"
           "At most 5 'ignored:' lines are written a second; the datagrams ignored after\n"
           "them are counted and told in one 'ignored N more' line when the second is\n"
           "over. Each player has at most 25 'state id' lines of its own a second; its\n"
           "changes after them are counted and told, with the latest position, in one\n"
           "'M more changes' line when the second is over (or before the player is\n"
           "replaced, or before the summary). In the same way each player has at most 5\n"
           "'(again)' lines a second, then one 'M more times (again)' line. New players\n"
           "have at most 100 'register' lines a second between them; the rest of that\n"
           "second are told in one 'registered N more players' line when it is over,\n"
           "with what the players they replaced had held back. These budgets belong to\n"
           "the slots of the player table, so players that come and go share them. So\n"
           "with 64 players the log gains at most 64 x 32 + 3 x 100 + 1 + 6 = 2355 lines\n"
           "a second, however fast anyone sends.\n"
           "The summary counts every datagram received, logged or not: D = R + S + I.\n"
           "Ports that cannot be bound are reported on stderr; the others are served.\n"
           "Exit status: 0 after SIGINT/SIGTERM, 1 if no port could be bound, 2 on a bad\n"
           "command line.\n";
}

bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        if (name == "--version") {
            o.version = true;
            continue;
        }
        if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasInlineValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasInlineValue) return true;
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto port = [&](uint16_t& field) -> bool {
            if (!takeValue()) return false;
            long long v = 0;
            if (!parseInteger(value, 0, 65535, v)) {
                error = name + ": not a port number: '" + value + "'";
                return false;
            }
            field = static_cast<uint16_t>(v);
            return true;
        };
        if (name == "--bind") {
            if (!takeValue()) return false;
            o.bindText = value;
        } else if (name == "--desktop-port") {
            if (!port(o.desktopPort)) return false;
        } else if (name == "--handheld-port") {
            if (!port(o.handheldPort)) return false;
        } else if (name == "--state-port") {
            if (!port(o.statePort)) return false;
        } else if (name == "--first-id") {
            if (!takeValue()) return false;
            long long v = 0;
            if (!parseInteger(value, INT32_MIN, INT32_MAX, v)) {
                error = "--first-id: not a 32-bit integer: '" + value + "'";
                return false;
            }
            o.firstId = static_cast<int32_t>(v);
        } else if (name == "--max-players") {
            if (!takeValue()) return false;
            long long v = 0;
            if (!parseInteger(value, 1, kMaxPlayersLimit, v)) {
                error =
                    "--max-players: not a number from 1 to " + std::to_string(kMaxPlayersLimit) + ": '" + value + "'";
                return false;
            }
            o.maxPlayers = static_cast<int>(v);
        } else {
            error = "unknown argument '" + args[i] + "'";
            return false;
        }
    }
    if (o.help || o.version) {
        out = o;
        return true;
    }
    if (!resolveIPv4(o.bindText, o.bindAddress)) {
        error = "--bind: not an IPv4 address or known host: '" + o.bindText + "'";
        return false;
    }
    // Two roles on one port would make one of them unreachable.
    const uint16_t ports[3] = {o.desktopPort, o.handheldPort, o.statePort};
    for (int a = 0; a < 3; ++a)
        for (int b = a + 1; b < 3; ++b)
            if (ports[a] != 0 && ports[a] == ports[b]) {
                error = "ports must differ (" + std::to_string(ports[a]) + " given twice)";
                return false;
            }
    out = o;
    return true;
}

}  // namespace vxserver
