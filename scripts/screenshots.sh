#!/usr/bin/env bash
# Takes the pictures in docs/screenshots/ from the built program (build/vxPlayer, or $VX_BUILD_DIR):
# it runs the program on a virtual X screen with a notification area, inside a private network
# namespace, with a library of generated tracks that it plays on its own speaker and on a second
# copy in a namespace of its own, joined by a veth pair; nothing leaves the machine.
# Run on demand (as root or with sudo for the installs); CI does not run it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VX_BUILD_DIR:-$top/build}
out=$top/docs/screenshots
tools=(xvfb imagemagick xdotool x11-utils x11-xserver-utils openbox trayer python3 iproute2 util-linux)

if [ -z "${VX_SHOTS_INSIDE:-}" ]; then
    missing=()
    for pkg in "${tools[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
    fi
    [ -x "$build/vxPlayer" ] || { echo "Build the program first: ./dev.sh build" >&2; exit 1; }
    # Greetings and everything else the program sends stay inside the namespace.
    ns=(unshare -n)
    [ "$(id -u)" -eq 0 ] || ns=(unshare -rn)
    # python3 is resolved now: a shim may look for its setup under the real home.
    exec env VX_SHOTS_INSIDE=1 VX_PYTHON="$(python3 -c 'import sys; print(sys.executable)')" "${ns[@]}" "$0" "$@"
fi

ip link set lo up
work=$(mktemp -d)
pids=()
# A second computer: a namespace of its own joined to this one by a veth pair.
unshare -n sleep infinity &
pids+=($!)
other=$!
sleep 0.3
ip link add vxa type veth peer name vxb
ip link set vxb netns "$other"
ip addr add 10.77.0.1/24 dev vxa
ip link set vxa up
ip route add default dev vxa
on_other() { nsenter -t "$other" -n "$@"; }
on_other ip link set lo up
on_other ip addr add 10.77.0.2/24 dev vxb
on_other ip link set vxb up
on_other ip route add default dev vxb
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$work/music"
export DISPLAY=:77 QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= XDG_SESSION_TYPE=x11
export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
appdata="$XDG_DATA_HOME/Marvane/Vellox Player"

Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
xsetroot -solid '#4f6d8f'
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    --transparent false --tint 0xdde3ea >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Tracks: a few seconds of soft chords each, named like a small collection.
"$VX_PYTHON" - "$work/music" <<'EOF'
import math, struct, sys, wave
names = ["Morning Light", "Harbour Walk", "Blue Hour", "Slow River", "Paper Boats",
         "North Wind", "Lanterns", "Quiet Streets"]
rate = 22050
for n, name in enumerate(names):
    base = 196.0 * 2 ** (n / 12)
    frames = bytearray()
    for i in range(rate * 40):
        t = i / rate
        v = sum(math.sin(2 * math.pi * base * r * t) for r in (1, 1.25, 1.5)) / 3
        frames += struct.pack("<h", int(v * 0.3 * 32767 * min(1, t * 4)))
    with wave.open(f"{sys.argv[1]}/{name}.wav", "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))
EOF

player_pid=0
start_player() {
    "$build/vxPlayer" >"$work/player.log" 2>&1 &
    player_pid=$!
    pids+=($player_pid)
    # The main window: the largest one (the tray icon's has the same name).
    window=
    for _ in $(seq 100); do
        sleep 0.2
        window=$(for w in $(xdotool search --onlyvisible --pid "$player_pid" 2>/dev/null); do
            xwininfo -id "$w" | awk -v w="$w" '/Width:/{a=$2} /Height:/{b=$2} END{print a * b, w}'
        done | sort -n | awk '$1 > 40000 {w = $2} END {print w}')
        [ -n "$window" ] && break
    done
    sleep 1.5
}
stop_player() {
    kill -TERM "$player_pid"
    wait "$player_pid" 2>/dev/null || true
}
# The smallest box around the program's visible windows and their frames, Margin pixels
# wider; windows under 40 x 40 (the tray icon) count only when Small is given.
shoot() {
    local name=$1 margin=${2:-12} small=${3:-} w l r t b box
    box=$(for w in $(xdotool search --onlyvisible --pid "$player_pid"); do
        xwininfo -id "$w" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
            /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}' | {
            read -r X Y W H
            [ -n "$small" ] || ((W >= 40 || H >= 40)) || exit 0
            read -r l r t b < <(xprop -id "$w" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ,)
            echo $((X - ${l:-0})) $((Y - ${t:-0})) $((X + W + ${r:-0})) $((Y + H + ${b:-0}))
        }
    done | awk -v m="$margin" 'NR == 1 {a = $1; b = $2; c = $3; d = $4}
        {if ($1 < a) a = $1; if ($2 < b) b = $2; if ($3 > c) c = $3; if ($4 > d) d = $4}
        END {a -= m; b -= m; if (a < 0) a = 0; if (b < 0) b = 0
             printf "%dx%d+%d+%d", c + m - a, d + m - b, a, b}')
    import -window root -crop "$box" +repage "$out/$name.png"
    echo "saved docs/screenshots/$name.png"
}

# First run: an empty library shows the first hint; adding a file shows the second.
start_player
sleep 1
shoot hint-step1
xdotool key --window "$window" Insert
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name 'Add Local Audio Files' | head -1)
sleep 0.5
xdotool type --delay 15 "$work/music/Morning Light.wav"
xdotool key Return
sleep 1
shoot hint-step2
stop_player

# Second run: a library of eight tracks, five of them played on this computer's own speaker.
rm -f "$appdata/MusicLibrary.txt"
for f in "$work"/music/*.wav; do printf '%s\r\n' "$f" >>"$appdata/MusicLibrary.txt"; done
printf '[Window]\r\nPopHitCount=5\r\n' >"$appdata/vxPlayer.ini"
start_player
shoot library
# The speaker is driven the way another copy would: one "ADD" on the command port.
"$VX_PYTHON" - <<'EOF' &
import socket, time
names = ["Blue Hour", "Harbour Walk", "Lanterns", "Morning Light", "North Wind"]
urls = [f"http://127.0.0.1:37401/{n}.wav" for n in names]
s = socket.create_connection(("127.0.0.1", 37400))
s.sendall(("ADD\r\n%d\r\n" % len(urls) + "".join(u + "\r\n" for u in urls)).encode())
time.sleep(30)
EOF
pids+=($!)
sleep 7
shoot my-player-playing

# The second computer's copy, beside this one, with a home of its own.
mkdir -p "$work/other/data/Marvane/Vellox Player" "$work/other/run"
chmod 700 "$work/other/run"
printf '[Window]\r\nPopHitCount=5\r\nLeft=640\r\n' \
    >"$work/other/data/Marvane/Vellox Player/vxPlayer.ini"
HOME=$work/other XDG_DATA_HOME=$work/other/data XDG_CONFIG_HOME=$work/other/config \
    XDG_RUNTIME_DIR=$work/other/run on_other "$build/vxPlayer" >"$work/other.log" 2>&1 &
pids+=($!)
sleep 3
# Play four tracks there: its address in the "Play on" box, the rows, the Play button (places
# in the window as designed).
click() { xdotool mousemove --window "$window" "$1" "$2" click "${3:-1}"; }
click 47 10
click 117 35
xdotool key ctrl+a
xdotool type --delay 15 10.77.0.2
click 80 57
xdotool key shift+Down shift+Down shift+Down
click 245 35
sleep 7
shoot remote-page

# Minimised, the window goes to the tray; a right click on the icon opens its menu.
xdotool windowminimize "$window"
sleep 1
xwininfo -id "$window" | grep -q IsViewable && echo "the window did not go to the tray" >&2
read -r tx ty tw th < <(xwininfo -name panel |
    awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2}
         END{print x, y, w, h}')
xdotool mousemove $((tx + tw / 2)) $((ty + th / 2)) click 3
sleep 1
shoot tray-menu 12 small
xdotool key Escape
stop_player
