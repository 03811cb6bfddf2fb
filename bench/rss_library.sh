#!/usr/bin/env bash
# Resident memory of the whole program (offscreen window) with a library of every audio file
# under a folder, for two builds side by side by the same method: each starts twice in a home of
# its own (the first start reads the tags, the second finds them in its cache); after each start
# settles (at most 10 ms of CPU a second for 3 s) the script prints VmRSS and VmHWM.
# Usage: bench/rss_library.sh FOLDER BUILD [OTHER_BUILD ...]   (builds: folders with vxPlayer)
set -euo pipefail
folder=$1
shift
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
for build in "$@"; do
    home=$(mktemp -d)
    data="$home/data/Marvane/Vellox Player"
    mkdir -p "$data" "$home/run" && chmod 700 "$home/run"
    find "$folder" -type f ! -name 'template.*' ! -name '*.bin' | sort |
        sed 's/$/\r/' >"$data/MusicLibrary.txt"
    rows=$(wc -l <"$data/MusicLibrary.txt")
    for start in first cached; do
        HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
            XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/run QT_QPA_PLATFORM=offscreen \
            "$build/vxPlayer" >"$home/log" 2>&1 &
        pid=$!
        begin=$(date +%s.%N)
        last=-1 same=0
        while ((same < 3)); do
            sleep 1
            now=$(cpu "$pid")
            if ((now - last <= 1)); then same=$((same + 1)); else same=0; fi
            last=$now
        done
        settled=$(echo "$(date +%s.%N) - $begin - 3" | bc)
        printf '%s, %d rows, %s start: settled after %.1f s, %s, %s\n' "$build" "$rows" "$start" \
            "$settled" "$(grep VmRSS /proc/$pid/status | tr -s ' \t' ' ')" \
            "$(grep VmHWM /proc/$pid/status | tr -s ' \t' ' ')"
        kill -TERM "$pid"
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$home"
done
