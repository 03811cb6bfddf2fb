"""Copies of the headless program, two hosts on a veth pair, a raw controller and headless
chromium, for the phone remote's browser tests. Everything stays inside the test's private
network namespace."""

import ctypes
import os
import select
import shutil
import socket
import struct
import subprocess

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

ADDRESS_A = "10.250.0.1"
ADDRESS_B = "10.250.0.2"
COMMAND_PORT = 37400
MEDIA_PORT = 37401


def tool(name):
    """ip and nsenter live in sbin, which a test's PATH may lack."""
    return shutil.which(name) or shutil.which(name, path="/usr/sbin:/sbin:/usr/bin:/bin") or name


def wait_until(condition, timeout=10, message=""):
    """Polls condition until it returns something true, at most timeout seconds."""
    return WebDriverWait(None, timeout, poll_frequency=0.05).until(
        lambda _: condition(), message)


def wav(seconds, title=b"", rate=8000):
    """A 16-bit mono PCM tone; a title goes into a LIST/INFO chunk ahead of the samples, as do
    the fields of a dict ({b"IART": artist...}) given as the title."""

    def chunk(name, body):
        return name + struct.pack("<I", len(body)) + body + b"\0" * (len(body) % 2)

    period = b"".join(struct.pack("<h", v) for v in (0, 6000, 8000, 6000, 0, -6000, -8000, -6000))
    frames = int(seconds * rate)
    body = b"WAVE" + chunk(b"fmt ", struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16))
    fields = title if isinstance(title, dict) else {b"INAM": title} if title else {}
    if fields:
        body += chunk(b"LIST", b"INFO" + b"".join(chunk(k, v + b"\0") for k, v in fields.items()))
    body += chunk(b"data", (period * (frames // 8 + 1))[: frames * 2])
    return chunk(b"RIFF", body)


def end_with_test():
    """Run in a child before exec: it gets SIGTERM when the test process dies."""
    ctypes.CDLL(None).prctl(1, 15)  # PR_SET_PDEATHSIG, SIGTERM


def run(command):
    subprocess.run(command, check=True, timeout=10, capture_output=True)


class TwoHosts:
    """Host A is the test's namespace, host B a fresh one held by a sleeping process, joined by
    a veth pair on one /24 with a default route on the link each."""

    def __init__(self):
        if [name for _, name in socket.if_nameindex()] != ["lo"]:
            raise RuntimeError("two hosts only inside a private network namespace (unshare -n)")
        self.holder = subprocess.Popen([tool("unshare"), "-n", "sleep", "infinity"],
                                       preexec_fn=end_with_test)
        own = os.readlink("/proc/self/ns/net")

        def holder_namespace():
            try:
                return os.readlink(f"/proc/{self.holder.pid}/ns/net") != own
            except OSError:
                return False

        self.made = False
        try:
            wait_until(holder_namespace, 5, "the holder has no namespace of its own")
            ip = tool("ip")
            run([ip, "link", "add", "vxa", "type", "veth", "peer", "name", "vxb"])
            self.made = True
            run([ip, "link", "set", "vxb", "netns", str(self.holder.pid)])
            run(self.in_b([ip, "link", "set", "lo", "up"]))
            for end, address, where in (("vxa", ADDRESS_A, list), ("vxb", ADDRESS_B, self.in_b)):
                for command in (["addr", "add", address + "/24", "dev", end],
                                ["link", "set", end, "up"], ["route", "add", "default", "dev", end]):
                    run(where([ip] + command))
        except BaseException:
            self.close()
            raise

    def in_b(self, command):
        return [tool("nsenter"), "-t", str(self.holder.pid), "-n", "--"] + command

    def close(self):
        if self.made:
            subprocess.run([tool("ip"), "link", "del", "vxa"], timeout=10)  # takes both ends
            self.made = False
        self.holder.kill()
        self.holder.wait(5)


class Copy:
    """One headless copy with its own home, settings file and library of generated tracks.
    tracks: (file name, seconds, title) in library order."""

    def __init__(self, program, home, tracks, settings="", address="127.0.0.1", wrap=None):
        data = os.path.join(home, "data", "Marvane", "Vellox Player")
        os.makedirs(data)
        os.makedirs(os.path.join(home, "run"), mode=0o700)
        music = os.path.join(home, "music")
        os.makedirs(music)
        self.tracks = []
        for name, seconds, title in tracks:
            path = os.path.join(music, name)
            with open(path, "wb") as f:
                f.write(wav(seconds, title))
            self.tracks.append(path)
        with open(os.path.join(data, "MusicLibrary.txt"), "wb") as f:
            f.write(b"".join(os.fsencode(p) + b"\r\n" for p in self.tracks))
        with open(os.path.join(data, "vxPlayer.ini"), "w", encoding="utf-8") as f:
            f.write(settings)
        env = dict(os.environ, HOME=home, XDG_DATA_HOME=home + "/data",
                   XDG_CONFIG_HOME=home + "/config", XDG_RUNTIME_DIR=home + "/run")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        command = [program, "--headless"]
        self.process = subprocess.Popen(wrap(command) if wrap else command, env=env,
                                        preexec_fn=end_with_test)
        self.address = address

        def listening():
            if self.process.poll() is not None:
                raise RuntimeError(f"the copy at {address} ended with {self.process.returncode}")
            for port in (COMMAND_PORT, MEDIA_PORT):
                try:
                    socket.create_connection((address, port), 1).close()
                except OSError:
                    return False
            return True

        try:
            wait_until(listening, 15, f"the copy at {address} does not listen")
        except BaseException:
            self.close()
            raise

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(5)


class Controller:
    """A raw command-port connection: every message the speaker sent, as (word, [lines])."""

    COUNTED = {"LIST", "POSITION"}
    SINGLE = {"STATE", "VOLUMN", "URL", "MUTE"}

    def __init__(self, host, port=COMMAND_PORT):
        self.socket = socket.create_connection((host, port), 5)
        self.lines = []
        self.pending = b""
        self.got = []

    def close(self):
        self.socket.close()

    def send(self, word, argument=""):
        self.socket.sendall(f"{word}\r\n{argument}\r\n".encode())

    def read(self):
        """Takes what has arrived and parses every whole message."""
        while select.select([self.socket], [], [], 0)[0]:
            data = self.socket.recv(65536)
            if not data:
                break
            self.pending += data
        *whole, self.pending = self.pending.split(b"\n")
        self.lines += [line.removesuffix(b"\r").decode("utf-8", "replace") for line in whole]
        while self.lines:
            word = self.lines[0]
            if word in self.SINGLE and len(self.lines) >= 2:
                self.got.append((word, self.lines[1:2]))
                del self.lines[:2]
            elif word in self.COUNTED and len(self.lines) >= 2:
                count = max(0, int(self.lines[1]))
                if len(self.lines) < 2 + count:
                    break
                self.got.append((word, self.lines[2:2 + count]))
                del self.lines[:2 + count]
            elif word in self.SINGLE or word in self.COUNTED:
                break
            else:
                del self.lines[0]

    def last(self, word):
        """The lines of the newest message with that word, or None."""
        self.read()
        return next((lines for w, lines in reversed(self.got) if w == word), None)

    def play_list(self):
        """The speaker's play list as it answers GET now."""
        start = len(self.got)
        self.send("GET")

        def answered():
            self.read()
            return [lines for w, lines in self.got[start:] if w == "LIST"]

        return wait_until(answered, 5, "no LIST in reply to GET")[0]


def browser(folder):
    """Headless chromium at a phone's size, with a profile of its own under folder."""
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    options.page_load_strategy = "eager"  # the tests wait for what they need
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=360,740", "--user-data-dir=" + os.path.join(folder, "profile"),
                     "--no-first-run", "--disable-background-networking", "--disable-sync",
                     "--disable-component-update", "--mute-audio"):
        options.add_argument(argument)
    # No name lookups: one would wait on the veth's default route for a server that isn't there.
    options.add_argument("--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE "
                         + ", EXCLUDE ".join((ADDRESS_A, ADDRESS_B, "127.0.0.1")))
    options.add_experimental_option(
        "mobileEmulation", {"deviceMetrics": {"width": 360, "height": 740, "pixelRatio": 1.0}})
    service = Service("/usr/bin/chromedriver", env=dict(os.environ, HOME=folder))
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_page_load_timeout(10)
    return driver
