"""Real MPD clients (python-mpd2, mpc) against a headless speaker's MPD door with a small
tagged library, and the door's answers beside those of Debian's MPD over the same music folder.
Run inside the suite's private network namespace: argv[1] is the headless program."""

import ctypes
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from mpd import CommandError, MPDClient

PROGRAM = None
DOOR, REFERENCE = 6600, 6601
COVER_URI = "Annbjørg Lien/Aurora/01 Lys.mp3"
# (path below the music folder, tags); the first carries a picture.
TRACKS = [
    (COVER_URI, {"title": "Lys", "artist": "Annbjørg Lien", "album": "Aurora", "track": "1",
                 "date": "1999", "genre": "Folk"}),
    ("ABBA/Gold/01 Waterloo.flac", {"title": "Waterloo", "artist": "ABBA", "album": "Gold",
                                    "album_artist": "ABBA", "track": "1", "genre": "Pop"}),
    ("ABBA/Gold/02 Dancing Queen.flac", {"title": "Dancing Queen", "artist": "ABBA",
                                         "album": "Gold", "album_artist": "ABBA", "track": "2"}),
    ("Various/Mix/01 Song.flac", {"title": "Song", "artist": "Frida", "album": "Mix",
                                  "album_artist": "Various Artists", "composer": "Benny"}),
]


def end_with_test():
    ctypes.CDLL(None).prctl(1, 15)  # PR_SET_PDEATHSIG, SIGTERM


def wait_until(condition, message, timeout=20):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            if condition():
                return
        except (OSError, CommandError, ConnectionError):
            pass
        time.sleep(0.05)
    raise AssertionError(message)


def client(port):
    c = MPDClient()
    c.timeout = 10
    c.connect("127.0.0.1", port)
    return c


def chunks(port, command, uri, limit):
    """A picture read chunk by chunk over a raw connection with a small binary limit."""
    with socket.create_connection(("127.0.0.1", port), 10) as raw:
        reader = raw.makefile("rb")
        reader.readline()
        raw.sendall(b"binarylimit %d\n" % limit)
        assert reader.readline() == b"OK\n"
        picture, size, count = b"", None, 0
        while size is None or len(picture) < size:
            quoted = uri.replace("\\", "\\\\").replace('"', '\\"')
            raw.sendall(f'{command} "{quoted}" {len(picture)}\n'.encode())
            fields = {}
            while not (line := reader.readline()).startswith(b"binary: "):
                key, _, value = line.decode().rstrip("\n").partition(": ")
                fields[key] = value
            length = int(line[8:])
            assert length <= limit
            picture += reader.read(length)
            assert reader.read(1) == b"\n" and reader.readline() == b"OK\n"
            size, count = int(fields["size"]), count + 1
        return picture, count


def mpc(port, *args):
    return subprocess.run(["mpc", "-p", str(port), *args], check=True, timeout=10,
                          capture_output=True, text=True).stdout


class MpdClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        top = cls.dir.name
        music = os.path.join(top, "music")
        cls.cover = os.path.join(top, "cover.png")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:s=32x32",
                        "-frames:v", "1", cls.cover], check=True, timeout=60)
        for path, tags in TRACKS:
            target = os.path.join(music, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            picture = ["-i", cls.cover, "-map", "0:a", "-map", "1:v", "-c:v", "copy",
                       "-disposition:v", "attached_pic"] if path == COVER_URI else []
            meta = [a for k, v in tags.items() for a in ("-metadata", f"{k}={v}")]
            subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=2",
                            *picture, *meta, target], check=True, timeout=60)
        home = os.path.join(top, "home")
        data = os.path.join(home, "data", "Marvane", "Vellox Player")
        os.makedirs(data)
        os.makedirs(os.path.join(home, "run"), mode=0o700)
        with open(os.path.join(data, "MusicLibrary.txt"), "wb") as f:
            f.write(b"".join(os.fsencode(os.path.join(music, p)) + b"\r\n"
                             for p, _ in reversed(TRACKS)))
        env = dict(os.environ, HOME=home, XDG_DATA_HOME=home + "/data",
                   XDG_CONFIG_HOME=home + "/config", XDG_RUNTIME_DIR=home + "/run",
                   XDG_CACHE_HOME=home + "/cache")
        cls.playlists = os.path.join(data, "playlists")
        cls.copy = subprocess.Popen([PROGRAM, "--headless"], env=env, preexec_fn=end_with_test)
        reference = os.path.join(top, "mpd")
        os.makedirs(os.path.join(reference, "playlists"))
        config = os.path.join(reference, "mpd.conf")
        with open(config, "w") as f:
            f.write(f'music_directory "{music}"\ndb_file "{reference}/db"\n'
                    f'playlist_directory "{reference}/playlists"\nlog_file "{reference}/log"\n'
                    f'bind_to_address "127.0.0.1"\nport "{REFERENCE}"\nzeroconf_enabled "no"\n'
                    'audio_output {\n type "null"\n name "null"\n}\n')
        cls.mpd = subprocess.Popen(["mpd", "--no-daemon", config], preexec_fn=end_with_test)
        # Both have read every file's tags.
        wait_until(lambda: len(client(DOOR).find("title", "Song")) == 1, "the door lacks tags")
        wait_until(lambda: client(REFERENCE).update() is not None, "MPD does not start")
        wait_until(lambda: len(client(REFERENCE).find("title", "Song")) == 1, "MPD lacks tags")
        cls.ours, cls.theirs = client(DOOR), client(REFERENCE)

    @classmethod
    def tearDownClass(cls):
        cls.ours.disconnect()
        cls.theirs.disconnect()
        for process in (cls.copy, cls.mpd):
            process.terminate()
            process.wait(10)
        cls.dir.cleanup()

    def test_same_answers_as_mpd(self):
        # Each query gives the same from both. On purpose: search folds accents (below), and a
        # song carries no Format or Last-Modified, so songs are compared by their files.
        def files(songs):
            return sorted(s["file"] for s in songs)

        queries = [
            (lambda c: c.list("album"), None),
            (lambda c: c.list("artist"), None),
            (lambda c: c.list("albumartist"), None),
            (lambda c: c.list("genre"), None),
            (lambda c: c.list("album", "group", "albumartist"), None),
            (lambda c: c.list("title", "(album == 'Gold')"), None),
            (lambda c: c.find("artist", "ABBA"), files),
            (lambda c: c.find("albumartist", "Frida"), files),
            (lambda c: c.find("(!(album == 'Gold'))"), files),
            (lambda c: c.search("title", "QUEEN"), files),
            (lambda c: c.count("group", "album"), None),
            (lambda c: c.lsinfo(""), None),
            (lambda c: c.lsinfo("ABBA/Gold"), files),
            (lambda c: c.listall("Various"), None),
        ]
        for query, shape in queries:
            shape = shape or (lambda answer: answer)
            self.assertEqual(shape(query(self.ours)), shape(query(self.theirs)))
        self.assertEqual(files(self.ours.search("artist", "annbjorg")), [COVER_URI])
        self.assertEqual(self.theirs.search("artist", "annbjorg"), [])
        self.assertEqual(mpc(DOOR, "ls", "ABBA"), mpc(REFERENCE, "ls", "ABBA"))
        self.assertEqual(mpc(DOOR, "list", "album", "group", "artist"),
                         mpc(REFERENCE, "list", "album", "group", "artist"))

    def test_find_is_exact_search_folds(self):
        self.assertEqual(self.ours.find("artist", "annbjørg lien"), [])
        self.assertEqual([s["title"] for s in self.ours.search("any", "ANNBJORG")], ["Lys"])
        self.assertEqual(mpc(DOOR, "search", "artist", "annbjorg").split("\n")[0], COVER_URI)

    def test_findadd_queues_library_files(self):
        self.ours.clear()
        self.ours.findadd("album", "Gold")
        self.ours.searchadd("(title contains 'lys')")
        rows = self.ours.playlistinfo()
        self.assertEqual([(r["file"], r["title"]) for r in rows],
                         [("ABBA/Gold/01 Waterloo.flac", "Waterloo"),
                          ("ABBA/Gold/02 Dancing Queen.flac", "Dancing Queen"),
                          (COVER_URI, "Lys")])

    def test_pictures_in_chunks(self):
        with open(self.cover, "rb") as f:
            picture = f.read()
        self.assertEqual(chunks(DOOR, "albumart", COVER_URI, 64), (picture, 2))
        read = self.ours.readpicture(COVER_URI)
        self.assertEqual((read["binary"], read["type"]), (picture, "image/png"))
        self.assertEqual(self.ours.readpicture("ABBA/Gold/01 Waterloo.flac"), {})
        with self.assertRaises(CommandError):
            self.ours.albumart("ABBA/Gold/01 Waterloo.flac")

    def test_rescan_ends_with_database_event(self):
        watcher = client(DOOR)
        self.assertTrue(self.ours.update().isdigit())
        self.assertEqual(watcher.idle("database"), ["database"])
        self.assertNotIn("updating_db", self.ours.status())
        watcher.disconnect()

    def test_stored_playlists(self):
        watcher = client(DOOR)
        heard = []
        waiting = threading.Thread(target=lambda: heard.extend(watcher.idle("stored_playlist")))
        waiting.start()
        self.ours.clear()
        self.ours.add("ABBA/Gold")
        self.ours.save("Party")
        waiting.join(10)
        self.assertEqual(heard, ["stored_playlist"])
        self.ours.playlistadd("Party", "Various/Mix/01 Song.flac")
        self.ours.playlistdelete("Party", 0)
        self.assertEqual([s["title"] for s in self.ours.listplaylistinfo("Party")],
                         ["Dancing Queen", "Song"])
        self.ours.rename("Party", "Dance")
        self.ours.clear()
        self.ours.load("Dance")
        self.assertEqual(len(self.ours.playlistinfo()), 2)
        self.assertIn("Dance", [p["playlist"] for p in self.ours.listplaylists()])
        for bad in ("../x", ".hidden"):
            with self.assertRaises(CommandError):
                self.ours.save(bad)
        self.ours.rm("Dance")
        self.assertEqual(os.listdir(self.playlists), [])


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main()
