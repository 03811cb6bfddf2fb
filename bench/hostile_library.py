#!/usr/bin/python3
"""Hostile libraries against two builds of the headless player, side by side.

  tags    3000 MP3 files of 2 kB whose compressed ID3v2 frames hold some 100000 characters of
          tags each (control characters: six bytes each in JSON): the program's peak RSS, its
          tag cache's size, and the phone page's first library page (time and size).
  search  100000 rows; four clients search with 28 kB queries while a fifth searches as a
          person does: how long each waits.

usage: unshare -n bench/hostile_library.py BEFORE_DIR AFTER_DIR [tags|search ...]
Each DIR holds a headless vxPlayer and its vxTagScan. Needs root in a private network namespace
(the program takes the fixed ports), ffmpeg, python3.
"""
import http.client
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib

FILES = 3000
ROWS = 100000
ALPHABET = "abcdefghijklmnopqrstuvwxyz"


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(frame_id, values):
    """An ID3v2.4 text frame, compressed, with its data length indicator."""
    text = b"\x03" + b"\x00".join(v.encode() for v in values)
    packed = syncsafe(len(text)) + zlib.compress(text, 9)
    return frame_id + syncsafe(len(packed)) + b"\x00\x09" + packed


def hostile_tag(index):
    # Every value distinct, so that no two files share a text.
    def values(name, count):
        return ["%s%d.%d" % (name, index, n) + "\x01" * 2000 for n in range(count)]
    frames = (frame(b"TIT2", values("t", 1)) + frame(b"TALB", values("a", 1)) +
              frame(b"TPE2", values("b", 1)) + frame(b"TPE1", values("p", 40)) +
              frame(b"TCON", values("g", 40)) + frame(b"TCOM", values("c", 40)))
    return b"ID3\x04\x00\x00" + syncsafe(len(frames)) + frames


def make_home(work, name, library):
    home = os.path.join(work, name)
    data = os.path.join(home, "data", "Marvane", "Vellox Player")
    os.makedirs(data)
    os.makedirs(os.path.join(home, "run"), mode=0o700)
    with open(os.path.join(data, "MusicLibrary.txt"), "w") as out:
        out.write("\r\n".join(library) + "\r\n")
    return home


def start(exe_dir, home):
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=home + "/data", XDG_CONFIG_HOME=home + "/config",
               XDG_CACHE_HOME=home + "/cache", XDG_RUNTIME_DIR=home + "/run",
               VX_MPV_OPTIONS="ao=null")
    return subprocess.Popen([os.path.join(exe_dir, "vxPlayer")], env=env, stdout=subprocess.DEVNULL,
                            stderr=open(home + "/stderr", "w"))


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def status_kb(pid, key):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def get(path, timeout=120):
    """(seconds, status, body bytes) of one GET on the phone page's port."""
    connection = http.client.HTTPConnection("127.0.0.1", 37401, timeout=timeout)
    began = time.monotonic()
    try:
        connection.request("GET", path, headers={"Host": "127.0.0.1:37401"})
        reply = connection.getresponse()
        body = reply.read()
        return time.monotonic() - began, reply.status, len(body)
    except (OSError, http.client.HTTPException):
        return time.monotonic() - began, 0, 0
    finally:
        connection.close()


def wait_for_server(deadline=60):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        if get("/vx-remote/api/library?count=1", 5)[1] == 200:
            return True
        time.sleep(0.2)
    return False


def tags_run(exe_dir, work, name, files):
    home = make_home(work, name, files)
    process = start(exe_dir, home)
    cache = None
    wait_for_server()
    # The scan is over once the cache file stops growing.
    last, steady, end = -1, 0, time.monotonic() + 600
    while time.monotonic() < end and process.poll() is None:
        time.sleep(1)
        found = [os.path.join(root, f) for root, _, names in os.walk(home + "/cache")
                 for f in names if f == "TagCache.bin"]
        size = os.path.getsize(found[0]) if found else -1
        steady = steady + 1 if size == last and size > 0 else 0
        last, cache = size, size
        if steady >= 5:
            break
    answers = [get("/vx-remote/api/library?count=500") for _ in range(5)]
    searched = get("/vx-remote/api/library?filter=p1")
    peak = status_kb(process.pid, "VmHWM")
    rss = status_kb(process.pid, "VmRSS")
    alive = process.poll() is None
    stop(process)
    return {"peak RSS (MB)": peak / 1024, "RSS at the end (MB)": rss / 1024,
            "tag cache (MB)": (cache or 0) / 1e6,
            "first page, first answer (ms)": answers[0][0] * 1000,
            "first page, median (ms)": statistics.median(a[0] for a in answers) * 1000,
            "first page (kB)": answers[0][2] / 1000,
            "a search (ms)": searched[0] * 1000, "alive at the end": alive}


def search_run(exe_dir, work, name):
    # Rows as long as a title, artist and album together.
    rows = ["http://h/%s-%d.mp3" % (ALPHABET * 4, n) for n in range(ROWS)]
    home = make_home(work, name, rows)
    process = start(exe_dir, home)
    wait_for_server()
    # Distinct words that every row holds, 28 kB of them.
    words = [ALPHABET[i:j] for i in range(26) for j in range(i + 2, 27)]
    def long_path(client):
        # Each client its own order, so that no search is the one before it again.
        query = ""
        while len(query) < 28000:
            query += " ".join(words[client:] + words[:client]) + " "
        return "/vx-remote/api/library?count=10&filter=" + urllib.parse.quote_plus(query[:28000])
    normal = []
    long_times = []
    running = threading.Event()
    running.set()

    def long_client(client):
        seconds, status, _ = get(long_path(client), 180)
        long_times.append(seconds if status == 200 else float("nan"))

    def normal_client():
        while running.is_set():
            normal.append(get("/vx-remote/api/library?count=10&filter=" +
                              urllib.parse.quote("klm 4%d" % len(normal)), 180)[0])
            time.sleep(0.1)

    person = threading.Thread(target=normal_client)
    person.start()
    time.sleep(1)
    greedy = [threading.Thread(target=long_client, args=(n,)) for n in range(4)]
    for thread in greedy:
        thread.start()
    for thread in greedy:
        thread.join()
    running.clear()
    person.join()
    stop(process)
    return {"long query, slowest (s)": max(long_times),
            "normal client, slowest wait (s)": max(normal),
            "normal client, median wait (ms)": statistics.median(normal) * 1000,
            "normal client, searches done": len(normal)}


def table(title, before, after):
    print("\n" + title)
    print("%-36s %14s %14s" % ("", "before", "after"))
    for key in before:
        b, a = before[key], after[key]
        fmt = "%14.1f" if isinstance(b, float) else "%14s"
        print("%-36s " % key + fmt % b + " " + fmt % a)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    before, after = sys.argv[1], sys.argv[2]
    which = sys.argv[3:] or ["tags", "search"]
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp(prefix="vx-hostile-")
    try:
        if "tags" in which:
            music = os.path.join(work, "music")
            os.makedirs(music)
            audio = subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                    "anullsrc=r=8000:cl=mono", "-t", "0.05", "-b:a", "8k",
                                    "-f", "mp3", "-"], capture_output=True, check=True).stdout
            files = []
            for index in range(FILES):
                path = os.path.join(music, "%04d.mp3" % index)
                with open(path, "wb") as out:
                    out.write(hostile_tag(index) + audio)
                files.append(path)
            print("%d files, %.1f MB on disk" % (FILES, sum(map(os.path.getsize, files)) / 1e6))
            table("Hostile tags", tags_run(before, work, "tags-before", files),
                  tags_run(after, work, "tags-after", files))
        if "search" in which:
            table("A long search beside a normal client (%d rows)" % ROWS,
                  search_run(before, work, "search-before"), search_run(after, work, "search-after"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
