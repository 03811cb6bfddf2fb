#!/usr/bin/python3
"""The phone remote in a real headless browser against a headless copy on loopback: page load,
a 10000-entry library listed and filtered, how soon a speaker's change shows (beside a plain
controller on the command port), and the copy's CPU and memory with 10 idle pages open.

Run inside a private network namespace, after a build:
  unshare -n bash -c 'ip link set lo up; /usr/bin/python3 bench/web_page_bench.py build/headless/vxPlayer'
Uses the fixed ports 37400/37401 on 127.0.0.1 only."""

import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "web", "browser"))
import webharness as H  # noqa: E402

ENTRIES = 10000
PAGES = 10
URL = "http://127.0.0.1:37401/"

# Runs before the page's own scripts (a CDP script is not bound by the page's CSP): notes when
# each "state" event has been handled, and when the library is listed.
PROBE = """
window.vxProbe = {states: [], lists: [], listed: 0};
const Base = window.EventSource;
window.EventSource = class extends Base {
  addEventListener(kind, fn, ...rest) {
    const seen = kind === 'state' ? window.vxProbe.states : kind === 'list' ? window.vxProbe.lists : null;
    if (!seen) return super.addEventListener(kind, fn, ...rest);
    return super.addEventListener(kind, (e) => {
      fn(e);
      seen.push([performance.timeOrigin + performance.now(), e.data]);
    }, ...rest);
  }
};
new MutationObserver(() => {
  if (!window.vxProbe.listed && document.querySelectorAll('#library li').length >= %d)
    window.vxProbe.listed = performance.now();
}).observe(document, {childList: true, subtree: true});
""" % ENTRIES

FILTER_KEYSTROKE = """
const box = document.getElementById('filter');
const t0 = performance.now();
box.value = arguments[0];
box.dispatchEvent(new Event('input'));
document.body.offsetHeight;
return performance.now() - t0;
"""


def cpu_seconds(pid):
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0]) / 1e9
        except OSError:
            pass
    return total


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0


def idle_pages(program, folder):
    """CPU and memory of a fresh copy with PAGES speaker pages open in two browsers (a browser
    keeps at most 6 connections to one server, and each open page holds one for its events)."""
    copy = H.Copy(program, folder + "/idle", [("tone.wav", 60, b"Tone")])
    pid = copy.process.pid
    drivers = [H.browser(folder + "/first"), H.browser(folder + "/second")]
    try:
        time.sleep(2)
        rss_before = rss_mib(pid)
        cpu0, t0 = cpu_seconds(pid), time.time()
        time.sleep(30)
        idle_cpu = (cpu_seconds(pid) - cpu0) / (time.time() - t0) * 100
        for i in range(PAGES):
            d = drivers[i % 2]
            if i >= 2:
                d.switch_to.new_window("tab")
            d.get(URL + "#My%20Computer")
            H.wait_until(lambda: d.execute_script(
                "return document.getElementById('session-status').dataset.status"
                " === 'connected'"), 10)
        time.sleep(3)
        rss_after = rss_mib(pid)
        cpu0, t0 = cpu_seconds(pid), time.time()
        time.sleep(30)
        cpu = (cpu_seconds(pid) - cpu0) / (time.time() - t0) * 100
        print(f"{PAGES} idle pages open: the copy's CPU {cpu:.3f} % of a core over 30 s "
              f"(no page open: {idle_cpu:.3f} %); "
              f"RSS {rss_before:.1f} -> {rss_after:.1f} MiB, "
              f"{(rss_after - rss_before) / PAGES * 1024:.0f} KiB per page")
    finally:
        for d in drivers:
            d.quit()
        copy.close()


def main(program):
    folder = tempfile.TemporaryDirectory(prefix="vx-webbench-")
    idle_pages(program, folder.name)
    tracks = [("tone.wav", 600, b"Tone")] + [
        (f"Track {i:05d} of Album {i // 12}.wav", 0, b"") for i in range(ENTRIES - 1)]
    copy = H.Copy(program, folder.name + "/home", tracks)
    driver = H.browser(folder.name)
    pid = copy.process.pid
    try:
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": PROBE})
        loads, listed, from_request = [], [], []
        for _ in range(5):
            driver.get("about:blank")
            driver.get(URL)
            H.wait_until(lambda: driver.execute_script(
                "return document.querySelectorAll('#target option').length"), 10)
            H.wait_until(lambda: driver.execute_script("return window.vxProbe.listed"), 10)
            nav = driver.execute_script(
                "return performance.getEntriesByType('navigation')[0].toJSON()")
            loads.append(nav["domInteractive"])
            listed.append(driver.execute_script("return window.vxProbe.listed"))
            asked = driver.execute_script(
                "return performance.getEntriesByType('resource')"
                ".find(e => e.name.includes('/api/library')).startTime")
            from_request.append(listed[-1] - asked)
        print(f"page interactive (DOM, modules run): median {statistics.median(loads):.0f} ms "
              f"of 5 loads; library of {ENTRIES} listed: median {statistics.median(listed):.0f} ms "
              f"after navigation start, {statistics.median(from_request):.0f} ms after the page "
              f"asked for it")

        per_key = []
        for word in ("track 1", "album 77", "of album 8"):
            for n in range(1, len(word) + 1):
                per_key.append(driver.execute_script(FILTER_KEYSTROKE, word[:n]))
            driver.execute_script(FILTER_KEYSTROKE, "")
        per_key.sort()
        print(f"filter, {len(per_key)} keystrokes over {ENTRIES} rows: median "
              f"{statistics.median(per_key):.1f} ms, worst {per_key[-1]:.1f} ms")

        # This copy's own speaker in the page, and a plain controller beside it.
        driver.get(URL + "#My%20Computer")
        H.wait_until(lambda: driver.execute_script("return window.vxProbe.states.length"), 10)
        wire = H.Controller("127.0.0.1")
        page_ms, wire_ms = [], []
        for i in range(30):
            volume = 20 + i
            start = time.time() * 1000
            wire.send("VOLUMN", str(volume))
            # The report's arrival on a plain controller connection is when the speaker made
            # the change known; the page shows it some time after.
            while wire.last("VOLUMN") != [str(volume)]:
                H.select.select([wire.socket], [], [], 1)
            reported = time.time() * 1000
            wire_ms.append(reported - start)
            shown = H.wait_until(lambda: driver.execute_script(
                "const s = window.vxProbe.states;"
                "for (const [t, d] of s) if (JSON.parse(d).volume === arguments[0]) return t;"
                "return 0;", volume), 5)
            page_ms.append(shown - reported)
        # Play states: the speaker reports a change of state at once (a volume waits for its
        # play tick). Pause and play the tone, a quarter second apart.
        wire.socket.sendall(b"ADD\r\n1\r\nhttp://127.0.0.1:37401/tone.wav\r\n")
        H.wait_until(lambda: wire.last("STATE") == ["3"], 10)
        state_ms, state_wire_ms = [], []
        for i in range(20):
            target = 2 if i % 2 == 0 else 3
            time.sleep(0.25)
            start_count = len(wire.got)
            start = time.time() * 1000
            wire.send("STATE", str(target))
            while not [1 for w, l in wire.got[start_count:] if w == "STATE" and l == [str(target)]]:
                H.select.select([wire.socket], [], [], 1)
                wire.read()
            state_wire_ms.append(time.time() * 1000 - start)
            shown = H.wait_until(lambda: driver.execute_script(
                "for (const [t, d] of window.vxProbe.states)"
                "  if (t > arguments[1] && JSON.parse(d).state === arguments[0]) return t;"
                "return 0;", target, start), 5)
            state_ms.append(shown - start)
        # A 10000-row play list: from its arrival on a plain controller to the page's rows.
        list_ms, wire_list_ms = [], []
        for round_ in range(3):
            wire.socket.sendall(b"UPDATELIST\r\n0\r\n")  # an empty play list first
            # Each round's locations are new, so no earlier list passes for this one.
            body = "\r\n".join(f"http://10.0.0.1:37401/R{round_}/Artist {i // 100}/Track {i:05d}.mp3"
                                for i in range(ENTRIES))
            start_count = len(wire.got)
            start = time.time() * 1000
            wire.socket.sendall(f"ADD\r\n{ENTRIES}\r\n{body}\r\n".encode())
            while not [1 for w, l in wire.got[start_count:] if w == "LIST" and len(l) >= ENTRIES and f"/R{round_}/" in l[0]]:
                H.select.select([wire.socket], [], [], 1)
                wire.read()
            arrived = time.time() * 1000
            shown = H.wait_until(lambda: driver.execute_script(
                "for (const [t, d] of window.vxProbe.lists) {"
                "  const items = JSON.parse(d).items;"
                "  if (items.length >= arguments[1] && items[0].includes(arguments[0])) return t;"
                "}"
                "return 0;", f"/R{round_}/", ENTRIES), 10)
            list_ms.append(shown - start)
            wire_list_ms.append(arrived - start)
        # Nothing to play: the unreachable tracks would keep the speaker busy.
        wire.socket.sendall(b"UPDATELIST\r\n0\r\n")
        wire.close()
        print(f"ADD of {ENTRIES} rows to the speaker: the page has built the new list's rows "
              f"after median {statistics.median(list_ms):.0f} ms; a plain controller (Python) "
              f"has read the LIST after median {statistics.median(wire_list_ms):.0f} ms")
        print(f"a speaker's play state (20 pauses and plays sent on the command port): a plain "
              f"controller reads the report after median {statistics.median(state_wire_ms):.1f} ms, "
              f"the page shows it after median {statistics.median(state_ms):.1f} ms "
              f"(worst {max(state_ms):.1f} ms)")
        print(f"a speaker's change (30 volume changes): the speaker reports it after median "
              f"{statistics.median(wire_ms):.1f} ms (its play tick); the page shows it "
              f"median {statistics.median(page_ms):.1f} ms after the report reached a plain "
              f"controller (worst {max(page_ms):.1f} ms)")

    finally:
        driver.quit()
        copy.close()
        folder.cleanup()


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build/headless/vxPlayer")
