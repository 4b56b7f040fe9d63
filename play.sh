#!/usr/bin/env bash
# Installs what is missing, builds, starts the local game server on loopback
# and both clients against it: the desktop client and the simulated handheld.
# Without a display it plays a short scripted session on a private X server
# and writes screenshots instead.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

vx_install_packages
vx_build default vxPCClient vx-server vx-handheld vx-desktop-session arm9_program arm7_program

out="$vx_root/build/play"
mkdir -p "$out"
server_log="$out/server.log"

# Port 80 (the handheld's registration port) needs privileges; without them
# the server takes 8080 and the simulated handheld forwards 80 there.
handheld_port=80
forward=()
if [ "$(id -u)" -ne 0 ]; then
    handheld_port=8080
    forward=(--forward "80=127.0.0.1:$handheld_port")
fi

"$VX_BIN/vx-server" --bind 127.0.0.1 --handheld-port "$handheld_port" >"$server_log" 2>&1 &
server_pid=$!
cleanup() {
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
}
trap cleanup EXIT
# The server prints `ready` once its ports are bound. Wait for that line, for
# at most 10 s, and give up early if the server has already exited.
deadline=$((SECONDS + 10))
until grep -qx ready "$server_log"; do
    if ! kill -0 "$server_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
        echo "The local game server did not get ready:" >&2
        cat "$server_log" >&2
        exit 1
    fi
    sleep 0.05
done

if [ -n "${DISPLAY:-}" ]; then
    echo "Server log: $server_log (shown below). Close both windows to stop."
    tail -n +1 -f "$server_log" &
    tail_pid=$!
    "$VX_BIN/vxPCClient" 127.0.0.1 &
    desktop_pid=$!
    "$VX_BIN/vx-handheld" --realtime "${forward[@]}" &
    handheld_pid=$!
    wait "$desktop_pid" "$handheld_pid" || true
    kill "$tail_pid" 2>/dev/null || true
else
    echo "No display: playing a short scripted session instead."
    "$VX_BIN/vx-desktop-session" --client "$VX_BIN/vxPCClient" --server 127.0.0.1 \
        --screenshot "$out/desktop.png" --keys up,up,right,right,right
    "$VX_BIN/vx-handheld" --headless "${forward[@]}" --frames 600 \
        --hold right@300-330 --hold up@340-360 --hold a@400-405 \
        --screenshot "$out/handheld.png" --console "$out/handheld-console.txt"
    echo "Handheld screenshot: $out/handheld.png (console text: $out/handheld-console.txt)"
    cleanup
    trap - EXIT
    echo "What the server received:"
    cat "$server_log"
fi
