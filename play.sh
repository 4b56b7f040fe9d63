#!/usr/bin/env bash
# Installs what is missing, builds, starts the local game server on loopback
# and both clients against it: the desktop client and the simulated handheld.
# Without a display it plays a short scripted session on a private X server
# and writes screenshots instead.
#   ./play.sh            install, build, play
#   ./play.sh --bin DIR  play with the programs already built in DIR (no
#                        install, no build; output goes to DIR/../play)
# Ctrl-C, a TERM, or either client ending stops everything it started; the
# server's summary is shown last.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

out="$vx_root/build/play"
case "$*" in
    "")
        vx_install_packages
        vx_build default vxPCClient vx-server vx-handheld vx-desktop-session arm9_program arm7_program
        ;;
    "--bin "*)
        [ $# -eq 2 ] && [ -d "$2" ] || { echo "usage: $0 [--bin DIR]" >&2; exit 2; }
        VX_BIN=$(cd "$2" && pwd)
        out="$(dirname "$VX_BIN")/play"
        ;;
    *) echo "usage: $0 [--bin DIR]" >&2; exit 2 ;;
esac

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

# Every program runs in the background and is waited for, so that a signal
# reaches the trap at once. Background jobs start with SIGINT ignored: Ctrl-C
# reaches only this script (and the server, which takes SIGINT back), so the
# trap ends the rest by pid.
clients=()
server_pid=
tail_pid=
stopped=

# end_pids PID...: TERM, at most 5 s to go, then KILL.
end_pids() {
    local pid left
    kill -TERM "$@" 2>/dev/null || true
    for _ in $(seq 100); do
        left=0
        for pid in "$@"; do kill -0 "$pid" 2>/dev/null && left=1; done
        [ "$left" -eq 0 ] && break
        sleep 0.05
    done
    kill -KILL "$@" 2>/dev/null || true
    for pid in "$@"; do wait "$pid" 2>/dev/null || true; done
}

stop_all() {
    [ -n "$stopped" ] && return 0
    stopped=1
    [ ${#clients[@]} -gt 0 ] && end_pids "${clients[@]}"
    [ -n "$server_pid" ] && end_pids "$server_pid"
    if [ -n "$tail_pid" ]; then
        # The follower ends once it has shown the server's last lines.
        for _ in $(seq 40); do kill -0 "$tail_pid" 2>/dev/null || break; sleep 0.05; done
        end_pids "$tail_pid"
    elif [ -n "$server_pid" ]; then
        echo "What the server received:"
        cat "$server_log"
    fi
}
# run_client CMD...: one client at a time, in the background and waited for.
run_client() {
    local status=0
    "$@" &
    clients=($!)
    wait "${clients[0]}" || status=$?
    clients=()
    return "$status"
}
trap stop_all EXIT
trap 'stop_all; exit 130' INT
trap 'stop_all; exit 143' TERM

# An earlier session's log says `ready` too: empty it before the server
# starts, or that line could be taken for this server's.
: >"$server_log"
"$VX_BIN/vx-server" --bind 127.0.0.1 --handheld-port "$handheld_port" >"$server_log" 2>&1 &
server_pid=$!
# The server prints `ready` once its ports are bound. Wait for that line, for
# at most 10 s, and give up early if the server has already exited.
deadline=$((SECONDS + 10))
until grep -qx ready "$server_log"; do
    if ! kill -0 "$server_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
        echo "The local game server did not get ready:" >&2
        cat "$server_log" >&2
        server_pid=
        exit 1
    fi
    sleep 0.05
done

if [ -n "${DISPLAY:-}" ]; then
    echo "Server log: $server_log (shown below). Close a window or press Ctrl-C to stop."
    tail -n +1 -s 0.2 -f --pid="$server_pid" "$server_log" &
    tail_pid=$!
    "$VX_BIN/vxPCClient" 127.0.0.1 &
    clients+=($!)
    "$VX_BIN/vx-handheld" --realtime "${forward[@]}" &
    clients+=($!)
    # Either client ending ends the session; the one that ended is reaped.
    ended=
    wait -n -p ended "${clients[@]}" || true
    running=()
    for pid in "${clients[@]}"; do [ "$pid" = "$ended" ] || running+=("$pid"); done
    clients=("${running[@]}")
else
    echo "No display: playing a short scripted session instead."
    run_client "$VX_BIN/vx-desktop-session" --client "$VX_BIN/vxPCClient" --server 127.0.0.1 \
        --screenshot "$out/desktop.png" --keys up,up,right,right,right
    run_client "$VX_BIN/vx-handheld" --headless "${forward[@]}" --frames 600 \
        --hold right@300-330 --hold up@340-360 --hold a@400-405 \
        --screenshot "$out/handheld.png" --console "$out/handheld-console.txt"
    echo "Handheld screenshot: $out/handheld.png (console text: $out/handheld-console.txt)"
fi
