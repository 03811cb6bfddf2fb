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
tools=(xvfb imagemagick xdotool x11-utils x11-xserver-utils openbox trayer python3 iproute2 util-linux
       ffmpeg chromium chromium-driver python3-selenium)

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

Xvfb :77 -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
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

# Tags and covers: three albums, two with the cover in the file, one with a cover.jpg in its
# folder; "Evening Radio" gathers two artists under one album artist.
cover() { convert -size 240x240 "gradient:$1-$2" -fill '#ffffff66' -draw "circle 120,120 120,$3" "$4"; }
cover '#f3b562' '#8c2f5d' 70 "$work/harbour.png"
cover '#6fb7c8' '#1d3557' 40 "$work/radio.png"
mkdir -p "$work/music/Paper Boats"
cover '#b8d8a0' '#2f5d3a' 90 "$work/music/Paper Boats/cover.jpg"
tag() { # name artist album track year output [cover [album artist]]
    local pic=()
    [ -z "${7:-}" ] || pic=(-i "$7" -map 0:a -map 1:v -c:v copy -disposition:v attached_pic)
    ffmpeg -v error -y -i "$work/music/$1.wav" "${pic[@]}" -c:a libmp3lame -b:a 64k \
        -id3v2_version 3 -metadata title="$1" -metadata artist="$2" -metadata album="$3" \
        -metadata track="$4" -metadata date="$5" -metadata album_artist="${8:-$2}" "$6"
    rm "$work/music/$1.wav"
}
for n in "Morning Light:1" "Harbour Walk:2" "Blue Hour:3"; do
    tag "${n%:*}" "Mira Solberg" "Harbour Lights" "${n#*:}" 2024 "$work/music/${n%:*}.mp3" \
        "$work/harbour.png"
done
tag Lanterns "Jonas Ekdahl" "Evening Radio" 1 2022 "$work/music/Lanterns.mp3" "$work/radio.png" \
    "Various Artists"
tag "North Wind" "Clémence Aubry" "Evening Radio" 2 2022 "$work/music/North Wind.mp3" \
    "$work/radio.png" "Various Artists"
for n in "Paper Boats:1" "Slow River:2" "Quiet Streets:3"; do
    tag "${n%:*}" "Anna Bjørk" "Paper Boats" "${n#*:}" 2023 "$work/music/Paper Boats/${n%:*}.mp3"
done

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
# The main window's width: the controls on the right keep their distance from its right edge.
window_width() { xwininfo -id "$window" | awk '/Width:/{print $2}'; }
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
xdotool type --delay 15 "$work/music/Morning Light.mp3"
xdotool key Return
sleep 1
shoot hint-step2
stop_player

# Second run: a library of eight tracks, five of them played on this computer's own speaker.
rm -f "$appdata/MusicLibrary.txt"
for f in "$work"/music/*.mp3 "$work"/music/*/*.mp3; do printf '%s\r\n' "$f" >>"$appdata/MusicLibrary.txt"; done
printf '[Window]\r\nPopHitCount=5\r\n' >"$appdata/vxPlayer.ini"
start_player
# The browser above the rows: artists and the albums' covers, at the first window's size.
click() { xdotool mousemove --window "$window" "$1" "$2" click "${3:-1}"; }
sleep 2
W=$(window_width)
click $((W - 33)) 62
sleep 1.5
shoot library

# The phone page's Albums tab, from this copy's own page, in headless chromium at a phone's size.
/usr/bin/python3 - "$out/phone-remote-albums.png" "$work" <<'EOF'
import os, sys, time
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
options = Options()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=360,740", "--user-data-dir=" + os.path.join(sys.argv[2], "profile"),
                 "--no-first-run", "--disable-background-networking", "--hide-scrollbars"):
    options.add_argument(argument)
options.add_experimental_option(
    "mobileEmulation", {"deviceMetrics": {"width": 360, "height": 740, "pixelRatio": 1.0}})
service = Service("/usr/bin/chromedriver", env=dict(os.environ, HOME=sys.argv[2]))
driver = webdriver.Chrome(service=service, options=options)
try:
    driver.get("http://127.0.0.1:37401/")
    time.sleep(2)
    driver.find_element(By.CSS_SELECTOR, "#show-albums").click()
    for _ in range(100):
        images = driver.find_elements(By.CSS_SELECTOR, "#shelf li img.cover")
        if len(images) >= 3 and all(driver.execute_script("return arguments[0].complete", i)
                                    for i in images):
            break
        time.sleep(0.1)
    time.sleep(0.5)
    driver.save_screenshot(sys.argv[1])
    print("saved docs/screenshots/phone-remote-albums.png")
finally:
    driver.quit()
EOF
click $((W - 33)) 62
# The speaker is driven the way another copy would: one "ADD" on the command port.
"$VX_PYTHON" - <<'EOF' &
import socket, time
names = ["Blue Hour", "Harbour Walk", "Lanterns", "Morning Light", "North Wind"]
urls = [f"http://127.0.0.1:37401/{n}.mp3" for n in names]
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
printf '[Window]\r\nPopHitCount=5\r\nLeft=560\r\n[Speaker]\r\nName=Kitchen\r\n' \
    >"$work/other/data/Marvane/Vellox Player/vxPlayer.ini"
HOME=$work/other XDG_DATA_HOME=$work/other/data XDG_CONFIG_HOME=$work/other/config \
    XDG_RUNTIME_DIR=$work/other/run on_other "$build/vxPlayer" >"$work/other.log" 2>&1 &
pids+=($!)
sleep 3
# Play four tracks there: its address in the "Play on" box, the rows, the Play button.
click 47 10
click 117 35
xdotool key ctrl+a
xdotool type --delay 15 10.77.0.2
click 80 99
xdotool key shift+Down shift+Down shift+Down
click $((W - 74)) 35
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

# Third run: the same library in a window of 1280 x 800, the rows, then Browse.
printf '[Window]\r\nPopHitCount=5\r\nWidth=1280\r\nHeight=800\r\nLeft=120\r\nTop=60\r\n' \
    >"$appdata/vxPlayer.ini"
start_player
sleep 2
shoot library-1280x800
W=$(window_width)
click $((W - 33)) 62
sleep 1.5
shoot browse-1280x800
stop_player
