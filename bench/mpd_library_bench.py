"""The MPD door's library at scale beside Debian's MPD over the same files: time to the last
byte of "listallinfo" and of a "search" matching every track, through python-mpd2, and the
peak memory (RSS) each server reached while answering.

The library is bench_tags' (N tiny tagged files of 9 formats in folders of 1000, made the way
bench_tags makes them). Run as root in a private network namespace, the door on 6600 and MPD
on 6601:
  unshare -n bash -c 'ip link set lo up; /usr/bin/python3 bench/mpd_library_bench.py \
      build/headless/vxPlayer [files] [folder]'
A folder given is kept and reused (files, tag cache, MPD's database)."""

import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

from mpd import MPDClient

FORMATS = ["mp3", "flac", "ogg", "opus", "m4a", "wav", "aiff", "wv", "wma"]
DOOR, REFERENCE = 6600, 6601


def make_library(music, files):
    templates = {}
    for fmt in FORMATS:
        path = os.path.join(music, "template." + fmt)
        if not os.path.exists(path):
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "sine=frequency=440:duration=0.05:sample_rate=8000", "-ac", "1",
                            "-metadata", "title=Fjellsang", "-metadata", "artist=Annbjørg Lien",
                            "-metadata", "album=Prisme", "-metadata", "track=3/12", path],
                           check=True)
        with open(path, "rb") as f:
            templates[fmt] = f.read()
        os.rename(path, path + ".template")  # not a track of the library
    paths = []
    for i in range(files):
        folder = os.path.join(music, f"d{i // 1000}")
        os.makedirs(folder, exist_ok=True)
        fmt = FORMATS[i % len(FORMATS)]
        path = os.path.join(folder, f"f{i}.{fmt}")
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(templates[fmt])
        paths.append(path)
    return paths


def connect(port, iterate=False):
    client = MPDClient()
    client.timeout = 600
    client.iterate = iterate
    client.connect("127.0.0.1", port)
    return client


def end_with_bench():
    ctypes.CDLL(None).prctl(1, 15)  # PR_SET_PDEATHSIG, SIGTERM


def wait_for(port, process, ready):
    """Until ready(client) says the server knows every file's tags."""
    while True:
        if process.poll() is not None:
            sys.exit(f"the server on {port} ended")
        try:
            client = connect(port)
            done = ready(client)
            client.disconnect()
            if done:
                return
        except (OSError, ConnectionError):
            pass
        time.sleep(1)


def door_ready(files):
    """The scan is over: every row known and the tagged count steady for 3 s."""
    seen = []

    def ready(client):
        seen.append(client.count("title", "Fjellsang")["songs"])
        return int(client.stats()["songs"]) == files and len(seen) > 3 and \
            seen[-1] == seen[-4] != "0"
    return ready


def mpd_ready(files):
    return lambda client: "updating_db" not in client.status() and \
        int(client.stats()["songs"]) == files


def rss(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024


def measure(port, pid, query):
    """Seconds to the last item, the RSS (MiB) before and its peak while answering."""
    before = rss(pid, "VmRSS")
    with open(f"/proc/{pid}/clear_refs", "w") as f:
        f.write("5")  # the peak starts again from now
    client = connect(port, iterate=True)
    start = time.monotonic()
    items = sum(1 for _ in query(client))
    seconds = time.monotonic() - start
    client.disconnect()
    return seconds, before, rss(pid, "VmHWM"), items


def main():
    program = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    top = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp()
    music = os.path.join(top, "music")
    os.makedirs(music, exist_ok=True)
    start = time.monotonic()
    paths = make_library(music, files)
    print(f"library: {files} files in {time.monotonic() - start:.0f} s")

    home = os.path.join(top, "home")
    data = os.path.join(home, "data", "Marvane", "Vellox Player")
    os.makedirs(data, exist_ok=True)
    os.makedirs(os.path.join(home, "run"), mode=0o700, exist_ok=True)
    with open(os.path.join(data, "MusicLibrary.txt"), "wb") as f:
        f.write(b"".join(os.fsencode(p) + b"\r\n" for p in paths))
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=home + "/data",
               XDG_CONFIG_HOME=home + "/config", XDG_RUNTIME_DIR=home + "/run",
               XDG_CACHE_HOME=home + "/cache")
    ours = subprocess.Popen([program, "--headless"], env=env, preexec_fn=end_with_bench)
    state = os.path.join(top, "mpd")
    os.makedirs(state, exist_ok=True)
    config = os.path.join(state, "mpd.conf")
    with open(config, "w") as f:
        f.write(f'music_directory "{music}"\ndb_file "{state}/db"\nlog_file "{state}/log"\n'
                f'bind_to_address "127.0.0.1"\nport "{REFERENCE}"\nzeroconf_enabled "no"\n'
                f'max_output_buffer_size "1048576"\n'
                'audio_output {\n type "null"\n name "null"\n}\n')
    theirs = subprocess.Popen(["mpd", "--no-daemon", config], preexec_fn=end_with_bench,
                              stderr=subprocess.DEVNULL)
    try:
        start = time.monotonic()
        wait_for(DOOR, ours, door_ready(files))
        print(f"door ready (tags read) after {time.monotonic() - start:.0f} s")
        start = time.monotonic()
        client = connect(REFERENCE)
        client.update()
        client.disconnect()
        wait_for(REFERENCE, theirs, mpd_ready(files))
        print(f"MPD ready (database made) after {time.monotonic() - start:.0f} s")
        queries = [("listallinfo", lambda c: c.listallinfo()),
                   ("search artist annbjørg", lambda c: c.search("artist", "annbjørg")),
                   ("search title nowhere", lambda c: c.search("title", "nowhere")),
                   ("list album group artist", lambda c: c.list("album", "group", "artist"))]
        print(f"{'query':26} {'door s':>7} {'MPD s':>7} {'door MiB before/peak':>21} "
              f"{'MPD MiB before/peak':>20} {'items':>7}")
        for name, query in queries:
            a, a0, a1, n = measure(DOOR, ours.pid, query)
            b, b0, b1, m = measure(REFERENCE, theirs.pid, query)
            print(f"{name:26} {a:7.2f} {b:7.2f} {a0:14.0f} / {a1:4.0f} {b0:13.0f} / {b1:4.0f} "
                  f"{n:>7}" + ("" if n == m else f" (MPD: {m})"))
        print(f"resident now: door {rss(ours.pid, 'VmRSS'):.0f} MiB, "
              f"MPD {rss(theirs.pid, 'VmRSS'):.0f} MiB")
    finally:
        for process in (ours, theirs):
            process.terminate()
            process.wait(30)
        if len(sys.argv) <= 3:
            shutil.rmtree(top)


if __name__ == "__main__":
    main()
