#!/usr/bin/python3
"""Joins between tracks with real audio output: a 441 Hz tone cut into a 20-track album at
points inside a cycle, served over http and played by `vxPlayer --headless` into a private
PulseAudio null sink, whose monitor is recorded. At each join it finds the silence (periods
of the tone below half its level) and the phase step (where the tone picks up against where
it would be had nothing been lost or doubled, in samples of the tone's one-period grid).
Alone, then in a group of two rooms (the leader left, the follower right: also the rooms'
offset just before and after each join). Runs every given build side by side.

Needs root (or `unshare -rn`), iproute2, pulseaudio and pulseaudio-utils.
Usage: bench/gapless_pulse.py NAME=build/headless/vxPlayer [NAME=other/vxPlayer ...] [tracks]
"""
import array
import math
import os
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rooms_pulse as rp  # noqa: E402  (the network, PulseAudio and copies of that bench)

RATE = rp.RATE
PERIOD = 100  # samples: 441 Hz
TRACK = 3.0  # seconds a track lasts, about
LEVEL = 0.25


def album(count):
    """WAV bodies of count tracks cutting one tone mid-cycle; the cut points in samples."""
    cuts = [int(TRACK * RATE * k) + 37 * k for k in range(count + 1)]
    tone = array.array("h", (int(LEVEL * 32767 * math.sin(2 * math.pi * n / PERIOD))
                             for n in range(cuts[-1])))
    bodies = []
    for k in range(count):
        data = tone[cuts[k]:cuts[k + 1]].tobytes()
        head = b"RIFF" + rp.struct.pack("<I", 36 + len(data)) + b"WAVEfmt "
        head += rp.struct.pack("<IHHIIHH", 16, 1, 1, RATE, 2 * RATE, 2, 16)
        bodies.append(head + b"data" + rp.struct.pack("<I", len(data)) + data)
    return bodies


class AlbumHandler(rp.RangeHandler):
    bodies = {}

    def do_GET(self):
        self.body = self.bodies.get(self.path, b"")
        super().do_GET()


def periods(x):
    """Per period of the tone from its first sound: (level, phase in samples)."""
    start = next((i for i, v in enumerate(x) if abs(v) > 0.1 * LEVEL * 32767), len(x))
    out = []
    for at in range(start, len(x) - PERIOD, PERIOD):
        s = c = p = 0.0
        for i in range(PERIOD):
            v = x[at + i] / 32767.0
            s += v * math.sin(2 * math.pi * i / PERIOD)
            c += v * math.cos(2 * math.pi * i / PERIOD)
            p += v * v
        out.append((math.sqrt(p / PERIOD), math.atan2(c, s) / (2 * math.pi) * PERIOD))
    return out


def wrap(d):
    return (d + PERIOD / 2) % PERIOD - PERIOD / 2


def joins(x, count):
    """Per join: (silence ms, phase step in samples), and the dips away from joins. A join is
    due a track's length after the track before started; it shows there as a dip or, gapless,
    as nothing at all."""
    per = periods(x)
    full = sorted(l for l, _ in per)[len(per) // 2] if per else 0
    dips, k = [], 0
    while k < len(per):
        if per[k][0] < full / 2:
            j = k
            while j < len(per) and per[j][0] < full / 2:
                j += 1
            dips.append((k, j))
            k = j
        else:
            k += 1
    out, used = [], 0
    end = 0  # period where the track before the join starts
    length = (TRACK * RATE + 37) / PERIOD
    for n in range(1, count):
        due = int(end + length)
        # A dip that starts more than 0.3 s from the join is something else (an underrun).
        dip = next(((a, b) for a, b in dips if abs(a - due) < 0.3 * RATE / PERIOD), None)
        if dip:
            a, b = dip
            end = b  # the next track starts after the silence
            used += 1
            before = per[a - 2][1] if a >= 2 else 0
            after = per[b + 1][1] if b + 1 < len(per) else 0
            out.append(((b - a) * PERIOD / RATE * 1e3, wrap(after - before)))
        else:
            end = due
            steps = [abs(wrap(per[i + 1][1] - per[i][1])) for i in range(max(0, due - 20),
                                                                          min(len(per) - 1, due + 20))]
            out.append((0.0, max(steps, default=float("nan"))))
    return out, len(dips) - used


def offset_ms(left, right):
    """Right minus left, in ms, within one period of the tone, per period."""
    return [wrap(r[1] - l[1]) / RATE * 1e3 for l, r in zip(left, right)]


def run(bench, player, grouped, count):
    bench.player = player
    a = bench.start_copy("a", False, "left")
    b = bench.start_copy("b", True, "right") if grouped else None
    raw = os.path.join(bench.work, "album.raw")
    try:
        ca = rp.Controller("127.0.0.1")
        if grouped:
            rp.Controller(rp.ADDRESS_B)
            ca.send("GROUPWATCH")
            ca.send("GROUPADD", rp.ADDRESS_B)
            ca.wait_for(rp.ADDRESS_B.encode() + b"\t", 15)
        rec = bench.start(["parec", "-d", "rooms.monitor", "--raw", "--format=s16le",
                           "--rate=%d" % RATE, "--channels=2", "--latency-msec=10"],
                          env=bench.pulse_env(), stdout=open(raw, "wb"))
        time.sleep(0.5)
        ca.send("ADD", *bench.urls)
        time.sleep(rp.STARTUP + count * TRACK + 2)
        bench.stop(rec)
        ca.sock.close()
    finally:
        bench.stop(a)
        if b:
            bench.stop(b)
    samples = array.array("h")
    with open(raw, "rb") as f:
        data = f.read()
    samples.frombytes(data[:len(data) // 4 * 4])
    left, right = samples[0::2], samples[1::2]
    result = {"alone": joins(left, count)}
    if grouped:
        result["follower"] = joins(right, count)
        pl, pr = periods(left), periods(right)
        off = offset_ms(pl, pr) if len(pl) and len(pr) else []
        result["offset"] = off
    return result


def summary(values):
    v = sorted(values)
    if not v:
        return "   -      -  "
    return "%6.1f %6.1f" % (v[len(v) // 2], v[-1])


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if os.environ.get("VX_ROOMS_INNER") != "1":
        os.execvpe("unshare", ["unshare", "-n", sys.executable] + sys.argv,
                   dict(os.environ, VX_ROOMS_INNER="1"))
    builds = [a.split("=", 1) for a in sys.argv[1:] if "=" in a]
    count = int(next((a for a in sys.argv[1:] if "=" not in a), 20))
    work = tempfile.mkdtemp(prefix="gapless-pulse-")
    bench = rp.Bench(None, work)
    server = None
    try:
        bench.set_up_network()
        bench.start_pulse()
        AlbumHandler.bodies = {"/t%02d.wav" % k: body for k, body in enumerate(album(count))}
        server = rp.http.server.ThreadingHTTPServer((rp.ADDRESS_A, 0), AlbumHandler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        bench.urls = ["http://%s:%d/t%02d.wav" % (rp.ADDRESS_A, server.server_address[1], k)
                      for k in range(count)]
        print("%d tracks of %.0f s, 441 Hz cut mid-cycle; per join: silence (ms) and phase step "
              "(samples at %d Hz), median and worst" % (count, TRACK, RATE))
        print("%-10s %-22s %13s %13s %12s %9s" % ("build", "run", "silence", "phase step",
                                                    "silent joins", "dips else"))
        for name, player in builds:
            for grouped in (False, True):
                r = run(bench, os.path.abspath(player), grouped, count)
                for room in ("alone", "follower") if grouped else ("alone",):
                    label = ("group: leader" if room == "alone" else "group: follower") \
                        if grouped else "alone"
                    js, elsewhere = r[room]
                    print("%-10s %-22s %13s %13s %9d/%d %9d" % (
                        name, label, summary([s for s, _ in js]),
                        summary([abs(p) for _, p in js]), sum(1 for s, _ in js if s > 0),
                        len(js), elsewhere))
                if grouped and r["offset"]:
                    off = sorted(abs(o) for o in r["offset"][len(r["offset"]) // 4:])
                    print("%-10s %-22s median %.3f ms, p95 %.3f ms, worst %.3f ms (one-period "
                          "phase, last 3/4)" % (name, "group: rooms' offset", off[len(off) // 2],
                                                off[int(0.95 * len(off))], off[-1]))
        if os.environ.get("VX_ROOMS_KEEP") != "1":
            shutil.rmtree(work, ignore_errors=True)
    finally:
        if server:
            server.shutdown()
        bench.cleanup()


if __name__ == "__main__":
    main()
