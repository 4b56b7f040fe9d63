#!/usr/bin/env bash
# The handheld client's ROM online in melonDS: builds the image whose server
# is the emulator NAT's address for the host (10.64.0.1), starts the local
# game server on 127.0.0.1 and the emulator on the current display, and shows
# the server's log. The emulator joins its own access point (stored in its
# firmware's first slot) and its NAT hands the datagrams to 127.0.0.1:80, so
# the server needs port 80: run as root, or let unprivileged users bind it.
#   scripts/melonds.sh        melonDS from ../shared/tools/melonds, or $VX_MELONDS
set -euo pipefail
source "$(dirname "$0")/setup.sh"

melonds="${VX_MELONDS:-$VX_MELONDS_DIR/melonDS}"
if [ ! -x "$melonds" ]; then
    echo "No melonDS at $melonds; set VX_MELONDS to its binary." >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "melonDS needs a display (DISPLAY is not set)." >&2
    exit 1
fi

vx_install_packages
vx_build device
vx_build default vx-server

out="$vx_root/build/play"
mkdir -p "$out"
server_log="$out/melonds-server.log"
home=$(mktemp -d /tmp/vx-melonds-XXXXXX)
# Emptied first: an earlier run's `ready` must not pass for this server's.
: >"$server_log"
"$VX_BIN/vx-server" --bind 127.0.0.1 --desktop-port 0 >"$server_log" 2>&1 &
server_pid=$!
tail_pid=
cleanup() {
    kill "$server_pid" $tail_pid 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
deadline=$((SECONDS + 10))
until grep -qx ready "$server_log"; do
    if ! kill -0 "$server_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
        echo "The local game server did not get ready:" >&2
        cat "$server_log" >&2
        exit 1
    fi
    sleep 0.05
done
if ! grep -q "listening handheld 127.0.0.1:80$" "$server_log"; then
    echo "The server could not bind 127.0.0.1:80, where the emulator's NAT delivers:" >&2
    cat "$server_log" >&2
    exit 1
fi

# Settings of its own, so a user's melonDS keeps theirs: the keys of the
# simulated handheld's window, the built-in access point (never LAN direct
# mode), 60 frames a second.
mkdir -p "$home/config/melonDS" "$home/runtime"
chmod 700 "$home/runtime"
cat >"$home/config/melonDS/melonDS.toml" <<'TOML'
LimitFPS = true
[LAN]
DirectMode = false
[Instance0]
[Instance0.Keyboard]
A = 88
B = 90
X = 81
Y = 87
L = 65
R = 83
Start = 16777220
Select = 16777219
Right = 16777236
Left = 16777234
Up = 16777235
Down = 16777237
TOML

echo "Server log: $server_log (shown below). Arrows are the d-pad, X is A. Close the window to stop."
tail -n +1 -f "$server_log" &
tail_pid=$!
XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime" \
    "$melonds" "$vx_root/build/device/vxVer1.0-nat.nds" >"$out/melonds.log" 2>&1 || true
