#!/usr/bin/python3
"""Rooms in sync with real audio output: two `vxPlayer --headless` copies on a veth pair,
each panned to one channel of a private PulseAudio null sink, play a track of clicks; the
sink's monitor is recorded and the clicks are located in each channel by matched filtering.
Prints the offset between the rooms (median, 95th percentile, worst) after the first 20 s,
for a group and for two copies told to play at the same moment without a group. Then, in a
third run, faults: room B (alone on the second CPU) is starved by a burst of a busy
real-time process until its stream runs dry for about underrun-ms, and
later its network link is dropped for drop-s seconds; prints how long the group takes to
come back within 1 ms after each, and the worst offset meanwhile.

Needs root (or `unshare -rn`), iproute2, util-linux (taskset, chrt), pulseaudio and
pulseaudio-utils, and two CPUs.
Usage: bench/rooms_pulse.py build/headless/vxPlayer [seconds] [underrun-ms] [drop-s]
VX_ROOMS_SPLIT=<s>: the clicks come as two tracks, the first <s> seconds long, so that a
track change falls inside the measured window (between two clicks).
"""
import array
import bisect
import http.server
import math
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
PERIOD = 0.5  # seconds between clicks
CLICK = [0.8 * math.sin(math.pi * (k + 0.5) / 16) ** 2 for k in range(16)]  # Hann pulse
ADDRESS_A, ADDRESS_B = "10.250.0.1", "10.250.0.2"
SETTLE = 20.0  # seconds ignored after the first click
STARTUP = 15.0  # seconds allowed from the command to the first click (about 10 under load)
# What PulseAudio holds of a copy's stream (mpv's pulse-buffer, 100 ms, and the sink's own
# share): a starved copy plays on from it, so a burst lasts this much longer than the
# underrun it makes.
STREAM_BUFFER_MS = 160
STEADY = 6  # clicks within 1 ms in a row that count as back in step
AFTER_FAULT = 25.0  # seconds recorded after each fault
BUSY = ("import sys, time\n"
        "t = time.monotonic(); end = t + float(sys.argv[1])\n"
        "while time.monotonic() < end: pass\n"
        "print(t, time.monotonic())\n")
# Each copy plays into a one-channel sink of its own that is one channel of the rooms' sink.
PAN = {side: "module-remap-sink sink_name=%s master=rooms channels=1 master_channel_map=front-%s "
             "channel_map=mono remix=no" % (side, side) for side in ("left", "right")}


def run(*command, check=True):
    done = subprocess.run(command, capture_output=True, timeout=20)
    if check and done.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(command), done.stderr.decode(errors="replace")))


def make_wav(path, seconds):
    frames = array.array("h", bytes(2 * int(seconds * RATE)))
    for start in range(int(RATE * 0.25), len(frames) - 32, int(RATE * PERIOD)):
        for k, v in enumerate(CLICK):
            frames[start + k] = int(v * 32767)
    data = frames.tobytes()
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt ")
        f.write(struct.pack("<IHHIIHH", 16, 1, 1, RATE, 2 * RATE, 2, 16))
        f.write(b"data" + struct.pack("<I", len(data)) + data)


class RangeHandler(http.server.BaseHTTPRequestHandler):
    """Serves one file with byte ranges, so the players may seek."""

    body = b""
    bodies = {}  # path -> body, when there are several

    def do_GET(self):
        body = self.bodies.get(self.path, self.body)
        start, end = 0, len(body) - 1
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes="):
            first, _, last = wanted[6:].partition("-")
            start = int(first or 0)
            end = min(int(last), end) if last else end
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, len(body)))
        else:
            self.send_response(200)
        self.send_header("Content-Type", "audio/wav")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        try:
            self.wfile.write(body[start:end + 1])
        except OSError:
            pass

    def log_message(self, *args):
        pass


class Controller:
    """A controller on a speaker's command port: sends commands, waits for bytes."""

    def __init__(self, host, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.create_connection((host, 37400), timeout=2)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("no speaker answers on %s" % host)
                time.sleep(0.2)
        self.got = b""
        self.wait_for(b"STATE", 10)

    def send(self, word, *lines):
        if word == "ADD":
            lines = (str(len(lines)),) + lines
        self.sock.sendall("".join(s + "\r\n" for s in (word,) + lines).encode())

    def read_some(self, timeout):
        """Adds what arrives within timeout (one read at most) to got."""
        self.sock.settimeout(timeout)
        try:
            chunk = self.sock.recv(65536)
        except socket.timeout:
            return
        if not chunk:
            raise RuntimeError("the speaker closed the connection")
        self.got += chunk

    def wait_for(self, needle, timeout):
        deadline = time.monotonic() + timeout
        while needle not in self.got:
            left = deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError("no %r from the speaker in %.0f s" % (needle, timeout))
            self.read_some(left)


class Bench:
    def __init__(self, player, work):
        self.player, self.work = player, work
        self.procs = []
        self.holder = None
        self.veth = False

    def start(self, command, env=None, **kw):
        p = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, **kw)
        self.procs.append(p)
        return p

    def stop(self, p):
        if p.poll() is None:
            p.send_signal(signal.SIGCONT)
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(5)

    def cleanup(self):
        for p in reversed(self.procs):
            self.stop(p)
        if self.veth:
            run("ip", "link", "del", "vxa", check=False)

    def set_up_network(self):
        run("ip", "link", "set", "lo", "up")
        with open("/proc/sys/net/ipv4/ip_local_reserved_ports", "w") as f:
            f.write("37400-37402")
        # Holds host B's namespace; unshare execs sleep once the namespace is there.
        self.holder = self.start(["unshare", "-n", "sleep", "100000"])
        pid = str(self.holder.pid)
        for _ in range(50):
            if os.readlink("/proc/%s/ns/net" % pid) != os.readlink("/proc/self/ns/net"):
                break
            time.sleep(0.1)
        else:
            raise RuntimeError("no namespace for host B")
        inb = ["nsenter", "-t", pid, "-n", "--"]
        self.inb = inb
        run("ip", "link", "add", "vxa", "type", "veth", "peer", "name", "vxb")
        self.veth = True
        run("ip", "link", "set", "vxb", "netns", pid)
        run("ip", "addr", "add", ADDRESS_A + "/24", "dev", "vxa")
        run("ip", "link", "set", "vxa", "up")
        for c in (["link", "set", "lo", "up"], ["addr", "add", ADDRESS_B + "/24", "dev", "vxb"],
                  ["link", "set", "vxb", "up"]):
            run(*inb, "ip", *c)

    def start_pulse(self):
        home = os.path.join(self.work, "pulse")
        os.makedirs(home + "/run", mode=0o700)
        env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home + "/run")
        self.sock = os.path.join(self.work, "pa.sock")
        # The rooms' server, A and the recorder share the first CPU; B has the second.
        self.start(["taskset", "-c", "0", "pulseaudio", "-n", "--log-level=debug", "--log-time=yes", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                    "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + self.sock,
                    "-L", "module-null-sink sink_name=rooms rate=%d channels=2" % RATE,
                    "-L", PAN["left"], "-L", PAN["right"]],
                   env=env, stdout=subprocess.DEVNULL, stderr=open(home + "/log", "w"))
        for _ in range(100):
            if subprocess.run(["pactl", "info"], env=self.pulse_env(), capture_output=True,
                              timeout=5).returncode == 0:
                return
            time.sleep(0.1)
        raise RuntimeError("PulseAudio does not start (see %s/log)" % home)

    def pulse_env(self):
        return dict(os.environ, PULSE_SERVER="unix:" + self.sock)

    def start_copy(self, name, host_b, pan, faults=False):
        """Starts a copy; its position readings go to <its home>/trace (VX_SYNC_TRACE)."""
        home = tempfile.mkdtemp(prefix=name + "-", dir=self.work)
        os.makedirs(home + "/data/Marvane/Vellox Player")
        os.makedirs(home + "/run", mode=0o700)
        env = dict(self.pulse_env(), HOME=home, XDG_DATA_HOME=home + "/data",
                   XDG_CONFIG_HOME=home + "/config", XDG_RUNTIME_DIR=home + "/run",
                   QT_QPA_PLATFORM="offscreen", VX_SYNC_TRACE=home + "/trace",
                   VX_MPV_OPTIONS="ao=pulse,audio-device=pulse/" + pan)
        pin = ["taskset", "-c", "1" if host_b else "0"] if faults else []
        command = (self.inb if host_b else []) + pin + [self.player, "--headless"]
        return self.start(command, env=env, stdout=subprocess.DEVNULL,
                          stderr=open(home + "/stderr", "w"))

    def record(self, mode, seconds, underrun_ms=0, drop_s=0):
        """Plays and records (mode: "grouped", "free" or "faults"); returns the recording's
        samples, the faults ([(what, start, end)] in the recording's seconds) and loads."""
        grouped, faults = mode != "free", mode == "faults"
        a = self.start_copy("a", False, "left", faults)
        b = self.start_copy("b", True, "right", faults)
        events = []
        try:
            # A's controller over loopback: it stays in touch while the link is down.
            ca, cb = Controller("127.0.0.1"), Controller(ADDRESS_B)
            if grouped:
                ca.send("GROUPWATCH")
                ca.send("GROUPADD", ADDRESS_B)
                ca.wait_for(ADDRESS_B.encode() + b"\t", 15)
            raw = os.path.join(self.work, mode + ".raw")
            rec = self.start(["parec", "-d", "rooms.monitor", "--raw", "--format=s16le",
                              "--rate=%d" % RATE, "--channels=2", "--latency-msec=10"],
                             env=self.pulse_env(), stdout=subprocess.PIPE)
            # The recording's clock: its first bytes, with little latency, date its start.
            first = []
            def copy():
                with open(raw, "wb") as out:
                    while chunk := rec.stdout.read1(65536):
                        if not first:
                            first.append(time.monotonic() - len(chunk) / 4 / RATE)
                        out.write(chunk)
            copier = threading.Thread(target=copy)
            copier.start()
            time.sleep(0.5)
            t0 = first[0] if first else time.monotonic() - 0.5
            ca.send("ADD", *self.urls)
            if not grouped:
                cb.send("ADD", *self.urls)
            loads = [read_load()]
            total = STARTUP + SETTLE + (AFTER_FAULT if faults else seconds)
            if faults:
                time.sleep(max(0, total - (time.monotonic() - t0)))
                events.append(self.burst(underrun_ms, t0))
                loads.append(read_load())
                total += AFTER_FAULT
                time.sleep(max(0, total - (time.monotonic() - t0)))
                events.append(self.drop_link(drop_s, t0, ca))
                loads.append(read_load())
                total += drop_s + AFTER_FAULT
            time.sleep(max(0, total - (time.monotonic() - t0)))
            loads.append(read_load())
            self.stop(rec)
            copier.join()
            for c in (ca, cb):
                c.sock.close()
        finally:
            self.stop(a)
            self.stop(b)
        samples = array.array("h")
        with open(raw, "rb") as f:
            data = f.read()
        samples.frombytes(data[:len(data) // 4 * 4])
        return samples, events, loads

    def burst(self, underrun_ms, t0):
        """A busy real-time process on B's CPU, long enough that B's stream runs dry for
        about underrun_ms: B's copy gets no CPU at all meanwhile."""
        seconds = (underrun_ms + STREAM_BUFFER_MS) / 1000
        before = self.underruns()
        done = subprocess.run(["chrt", "-f", "80", "taskset", "-c", "1", sys.executable, "-c",
                               BUSY, str(seconds)], capture_output=True, timeout=20, check=True)
        start, end = (float(v) for v in done.stdout.split())
        time.sleep(1)  # the server logs the underrun once B writes again
        what = "CPU burst of %.0f ms on B's CPU (%d underruns logged)" % (
            (end - start) * 1e3, self.underruns() - before)
        return what, start - t0, end - t0

    def drop_link(self, seconds, t0, leader):
        """Takes the veth link down for a while; returns once the leader lists B as playing
        again after it went away."""
        leader.got = b""
        start = time.monotonic()
        run("ip", "link", "set", "vxa", "down")
        time.sleep(seconds)
        run("ip", "link", "set", "vxa", "up")
        end = time.monotonic()
        run("ip", "route", "add", "default", "dev", "vxa", check=False)
        away, back, done = False, None, 0
        while back is None and time.monotonic() < end + 15:
            leader.read_some(0.5)
            # Each GROUP message in turn: "GROUP", count, the room lines.
            lines = leader.got.split(b"\r\n")
            while done < len(lines) - 1:
                if lines[done] == b"GROUP" and done + 1 < len(lines) - 1:
                    count = int(lines[done + 1])
                    if done + 2 + count > len(lines) - 1:
                        break
                    status = [l.split(b"\t")[-1] for l in lines[done + 2:done + 2 + count]
                              if l.startswith(ADDRESS_B.encode() + b"\t")]
                    away = away or status == [b"Away"]
                    if away and status and status[0].startswith(b"Playing"):
                        back = time.monotonic()
                    done += 2 + count
                else:
                    done += 1
        what = "link down for %.1f s; the leader lists B as playing %s" % (
            end - start, "%.1f s after the link came back" % (back - end) if back
            else "NOT within 15 s" + ("" if away else " (never listed as away)"))
        return what, start - t0, end - t0

    def underruns(self):
        try:
            with open(os.path.join(self.work, "pulse", "log"), errors="replace") as f:
                return sum(1 for line in f if "Implicit underrun of" in line)
        except OSError:
            return 0


def read_load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def locate_clicks(x):
    """Click start times (s) in one channel: a threshold finds each click, the peak of the
    cross-correlation with the click's shape, interpolated by a parabola, places it."""
    n, block, thr = len(x), 64, 3000
    times, i = [], 0
    while i < n:
        j = min(n, i + block)
        if max(x[i:j]) < thr and -min(x[i:j]) < thr:
            i = j
            continue
        onset = next(k for k in range(i, j) if abs(x[k]) >= thr)
        lo, hi = onset - 32, onset + 16
        if lo >= 1 and hi + len(CLICK) + 1 < n:
            r = {lag: sum(c * x[lag + k] for k, c in enumerate(CLICK)) for lag in range(lo - 1, hi + 2)}
            best = max(range(lo, hi + 1), key=lambda lag: r[lag])
            y0, y1, y2 = r[best - 1], r[best], r[best + 1]
            den = y0 - 2 * y1 + y2
            times.append((best + (0.5 * (y0 - y2) / den if den else 0.0)) / RATE)
        i = onset + int(RATE * PERIOD / 2)  # the next click is half a period on at least
    return times


def offsets(samples):
    """(time of A's click, B's minus A's in ms) for each click of A with one of B near it."""
    left, right = locate_clicks(samples[0::2]), locate_clicks(samples[1::2])
    print("clicks found: A %d (first at %.2f s), B %d (first at %.2f s), recording %.1f s"
          % (len(left), left[0] if left else -1, len(right), right[0] if right else -1,
             len(samples) / 2 / RATE), file=sys.stderr)
    out = []
    for t in left:
        k = bisect.bisect_left(right, t)
        near = [right[m] for m in (k - 1, k) if 0 <= m < len(right)]
        if near:
            d = min(near, key=lambda u: abs(u - t)) - t
            if abs(d) < PERIOD / 2:
                out.append((t, d * 1e3))
    return out


def quantile(values, q):
    s = sorted(abs(v) for v in values)
    return s[min(len(s) - 1, int(math.ceil(q * len(s))) - 1)] if s else float("nan")


def figures(pairs, start, end):
    window = [d for t, d in pairs if start <= t < end]
    return (quantile(window, 0.5), quantile(window, 0.95), quantile(window, 1.0),
            sum(window) / len(window) if window else float("nan"), len(window))


def recovery(pairs, start, end, until):
    """For a fault from start to end: the first click 1 ms off or more near it (the recording's
    clock is the sink's, ahead of ours by up to about 2 s: clicks up to 3 s early count), how
    long from there until the clicks are within 1 ms again for 3 s, and the worst offset in
    between."""
    near = [(t, d) for t, d in pairs if start - 3 <= t < until]
    hit = next((t for t, d in near if abs(d) >= 1.0 and t < end + 3), None)
    if hit is None:
        return None, None, max((abs(d) for t, d in near), default=None)
    after = [(t, d) for t, d in near if t >= hit]
    # Back: the first of STEADY clicks in a row within 1 ms.
    back, run_from, run = None, None, 0
    for t, d in after:
        run, run_from = (run + 1, run_from if run else t) if abs(d) < 1.0 else (0, None)
        if run == STEADY:
            back = run_from
            break
    worst = max(abs(d) for t, d in after if back is None or t < back) if after else None
    return hit, (back - hit if back is not None else None), worst


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if os.environ.get("VX_ROOMS_INNER") != "1":
        for tool in ("unshare", "nsenter", "ip", "pulseaudio", "parec", "pactl"):
            if not shutil.which(tool):
                sys.exit("needs %s (apt-get install pulseaudio pulseaudio-utils iproute2 util-linux)" % tool)
        os.execvpe("unshare", ["unshare", "-n", sys.executable] + sys.argv,
                   dict(os.environ, VX_ROOMS_INNER="1"))
    player = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 120
    underrun_ms = float(sys.argv[3]) if len(sys.argv) > 3 else 100
    drop_s = float(sys.argv[4]) if len(sys.argv) > 4 else 5
    if underrun_ms and os.cpu_count() < 2:
        sys.exit("the fault run needs two CPUs: pass 0 as underrun-ms")
    work = tempfile.mkdtemp(prefix="rooms-pulse-")
    bench = Bench(player, work)
    server = None
    try:
        bench.set_up_network()
        bench.start_pulse()
        wav = os.path.join(work, "clicks.wav")
        make_wav(wav, SETTLE + max(seconds, 3 * AFTER_FAULT + drop_s) + 60)
        with open(wav, "rb") as f:
            RangeHandler.body = f.read()
        server = http.server.ThreadingHTTPServer((ADDRESS_A, 0), RangeHandler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        base = "http://%s:%d/" % (ADDRESS_A, server.server_address[1])
        bench.urls = [base + "clicks.wav"]
        if split := float(os.environ.get("VX_ROOMS_SPLIT", "0")):
            # Cut between two clicks: the track change falls inside the measured window.
            data = RangeHandler.body[44:]
            cut = int((split // PERIOD) * PERIOD * RATE) * 2  # clicks are 0.25 s either side
            for name, part in (("one.wav", data[:cut]), ("two.wav", data[cut:])):
                RangeHandler.bodies["/" + name] = RangeHandler.body[:4] + struct.pack(
                    "<I", 36 + len(part)) + RangeHandler.body[8:40] + struct.pack(
                    "<I", len(part)) + part
            bench.urls = [base + "one.wav", base + "two.wav"]
        results = {}
        modes = ("grouped", "free", "faults") if underrun_ms else ("grouped", "free")
        # VX_ROOMS_ONLY=faults (say) runs one of them, to look at it.
        modes = [m for m in modes if os.environ.get("VX_ROOMS_ONLY", m) == m]
        for mode in modes:
            samples, events, loads = bench.record(mode, seconds, underrun_ms, drop_s)
            pairs = offsets(samples)
            if not pairs:
                raise RuntimeError("no clicks in both channels (see %s)" % work)
            results[mode] = (pairs, events, loads)
            if os.environ.get("VX_ROOMS_KEEP") == "1":
                with open(os.path.join(work, mode + ".offsets"), "w") as f:
                    f.writelines("%.3f %.3f\n" % p for p in pairs)
                    f.writelines("# %s %.3f %.3f\n" % e for e in events)
        print("B - A after the first %.0f s, %.0f s measured (|offset| in ms; mean signed):" % (SETTLE, seconds))
        print("%-28s %8s %8s %8s %8s %7s  %s" % ("", "median", "p95", "worst", "mean", "clicks", "load avg (start/end)"))
        target = True
        for mode, label in (("grouped", "grouped (GROUPADD)"), ("free", "two copies, no group")):
            if mode not in results:
                continue
            pairs, _, loads = results[mode]
            first = pairs[0][0]
            p50, p95, worst, mean, n = figures(pairs, first + SETTLE, first + SETTLE + seconds)
            print("%-28s %8.3f %8.3f %8.3f %8.3f %7d  %s / %s" % (label, p50, p95, worst, mean, n, *loads))
            if mode == "grouped":
                target = p95 < 1 and worst < 2
        if "faults" in results:
            pairs, events, loads = results["faults"]
            print("faults on B (each copy on a CPU of its own):")
            ends = [e[1] for e in events[1:]] + [pairs[-1][0] + 1]
            for (what, start, end), until, load in zip(events, ends, loads[1:]):
                _, before, _, _, _ = figures(pairs, start - 13, start - 3)
                hit, back, worst = recovery(pairs, start, end, until)
                print("  %s; load avg %s\n    p95 before %.3f ms; " % (what, load, before), end="")
                if hit is None:
                    print("no click 1 ms off within 3 s of it (worst until the next fault %.3f ms)"
                          % (worst or float("nan")))
                else:
                    print("first click 1 ms off at %.1f s, worst %.3f ms, back within 1 ms (for 3 s) "
                          "%s" % (hit, worst, "%.1f s later" % back if back is not None
                                  else "NOT before the next fault"))
        print("targets (p95 < 1 ms, worst < 2 ms): %s" % ("met" if target else "MISSED"))
        if os.environ.get("VX_ROOMS_KEEP") != "1":
            shutil.rmtree(work, ignore_errors=True)
    finally:
        if server:
            server.shutdown()
        bench.cleanup()


if __name__ == "__main__":
    main()
