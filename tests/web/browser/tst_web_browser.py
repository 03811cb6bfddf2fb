"""The phone remote in a real browser: host A's page drives a speaker on host B; host A does
not let others play on its own speaker. Run: tst_web_browser.py <headless program>."""

import functools
import http.client
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

import webharness as H

PROGRAM = None
TITLE = "<i>Tone</i>"  # the first track's title
SHOWN = "<b>x<i>y.wav"  # a file name with markup, played second
LISTED = "<img src=x onerror=document.title=1>.wav"  # in the library only
NAME_B = "<b>Kitchen</b>\u202e"  # host B's speaker name: shown as text, the mark dropped


def tagged(name, title, track, artist="Annbj\u00f8rg Lien", album="Prisme"):
    """A track of host B's library, its RIFF INFO in UTF-8 as TagLib reads it."""
    fields = {b"INAM": title, b"IART": artist, b"IPRD": album, b"IPRT": str(track)}
    return (name, 1, {k: v.encode() for k, v in fields.items()})


# Library order is not the album's order.
ALBUM = [tagged("a.wav", "Tredje", 3), tagged("b.wav", "Andre", 2), tagged("c.wav", "F\u00f8rste", 1),
         tagged("d.wav", "Annet", 1, "Someone Else", "Elsewhere")]


class WebRemote(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = tempfile.TemporaryDirectory(prefix="vx-web-")
        cls.addClassCleanup(folder.cleanup)
        cls.folder = folder.name
        hosts = H.TwoHosts()
        cls.addClassCleanup(hosts.close)
        a = H.Copy(PROGRAM, cls.folder + "/a",
                   [("tone.wav", 60, TITLE.encode()), (SHOWN, 60, b""), (LISTED, 1, b"")],
                   "[Server]\r\nHeadlessAllow=0\r\n", H.ADDRESS_A)
        cls.addClassCleanup(a.close)
        b = H.Copy(PROGRAM, cls.folder + "/b", ALBUM, f"[Speaker]\r\nName={NAME_B}\r\n",
                   H.ADDRESS_B, hosts.in_b)
        cls.addClassCleanup(b.close)
        cls.driver = H.browser(cls.folder)
        cls.addClassCleanup(cls.driver.quit)

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def wait(self, condition, message="", timeout=10):
        return H.wait_until(condition, timeout, message)

    def texts(self, css):
        # In one script, so that a list redrawn meanwhile cannot leave stale elements.
        return self.driver.execute_script(
            "return [...document.querySelectorAll(arguments[0])].map(e => e.textContent)", css)

    def open_page(self):
        self.driver.get(f"http://{H.ADDRESS_A}:{H.MEDIA_PORT}/")
        self.wait(lambda: len(self.texts("#library li")) == 3, "the library is not listed")

    def assert_no_markup(self, css):
        self.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, f"{css} b, {css} i, {css} img"),
                         [])

    def check_only(self, text):
        """Checks the play list row holding text, unchecks every other (taps, in one script)."""
        self.driver.execute_script(
            "for (const row of document.querySelectorAll('#playlist li')) {"
            "  const box = row.querySelector('input[type=checkbox]');"
            "  if (box.checked !== row.textContent.includes(arguments[0])) box.click(); }", text)

    def test_play_on_another_computer(self):
        url = f"http://{H.ADDRESS_A}:{H.MEDIA_PORT}/"
        speaker = H.Controller(H.ADDRESS_B)
        self.addCleanup(speaker.close)
        self.open_page()
        self.find("#target-name").send_keys(H.ADDRESS_B)
        for row in self.driver.find_elements(By.CSS_SELECTOR, "#library li"):
            if TITLE in row.text or SHOWN in row.text:
                row.click()
                self.assertEqual(row.get_attribute("aria-selected"), "true")
        self.find("#play-on").click()

        self.wait(lambda: self.find("#state").get_attribute("data-state") == "3", "not playing")
        self.assertIsNone(self.find("#speaker-view").get_attribute("hidden"))
        self.assertEqual(self.find("#session-status").get_attribute("data-status"), "connected")
        position = lambda: float(self.find("#position").get_property("value"))
        first = position()
        self.wait(lambda: position() > first, "the position stands still")
        self.assertTrue(self.find("#time").text.strip())
        self.assertEqual(speaker.play_list(), [url + "tone.wav", url + SHOWN])
        self.wait(lambda: TITLE in self.find("#information").text, "no title shown", 15)
        # A track of the library shows its tags, as on the desktop.
        self.wait(lambda: self.texts("#playlist li.current") and TITLE in
                  self.texts("#playlist li.current")[0], "the current track is not marked")
        self.assertIn(SHOWN, self.texts("#playlist li")[1])
        self.assert_no_markup("#information")
        self.assert_no_markup("#playlist")

        self.find("#playpause").click()
        self.wait(lambda: self.find("#state").get_attribute("data-state") == "2", "not paused")
        self.wait(lambda: speaker.last("STATE") == ["2"], "the speaker did not pause")

        self.driver.execute_script(
            "const v = document.getElementById('volume'); v.value = 30;"
            "v.dispatchEvent(new Event('change', {bubbles: true}));")
        self.wait(lambda: speaker.last("VOLUMN") == ["30"], "the speaker's volume is not 30")

        self.check_only(SHOWN)
        self.find("#up").click()
        self.wait(lambda: speaker.play_list() == [url + SHOWN, url + "tone.wav"], "no move")
        self.wait(lambda: SHOWN in self.texts("#playlist li")[0], "the page shows no move")
        self.check_only(SHOWN)
        self.find("#remove").click()
        self.wait(lambda: speaker.play_list() == [url + "tone.wav"], "no removal")
        self.wait(lambda: len(self.texts("#playlist li")) == 1, "the page shows no removal")

    def test_play_choices_and_names(self):
        url = f"http://{H.ADDRESS_A}:{H.MEDIA_PORT}/"
        speaker = H.Controller(H.ADDRESS_B)
        self.addCleanup(speaker.close)
        self.addCleanup(lambda: speaker.send("UPDATELIST", "0"))
        speaker.send("UPDATELIST", f"1\r\n{url}left-over.wav")
        self.open_page()
        label = f"<b>Kitchen</b> ({H.ADDRESS_B})"
        self.wait(lambda: label in self.texts("#target option"), "B is not listed by name", 20)
        Select(self.find("#target")).select_by_value(H.ADDRESS_B)
        self.assertEqual(self.find("#play-mode").get_attribute("value"), "now")

        def row(name):
            return next(r for r in self.driver.find_elements(By.CSS_SELECTOR, "#library li")
                        if name in r.text)
        row(TITLE).click()
        self.find("#play-on").click()  # Play Now: the list becomes the track, which starts
        self.wait(lambda: speaker.play_list() == [url + "tone.wav"], "the list was not replaced")
        self.wait(lambda: self.texts("#playlist li.current") and TITLE in
                  self.texts("#playlist li.current")[0], "the chosen track does not play")
        self.assertEqual(self.driver.title, "<b>Kitchen</b> Player")
        self.assertEqual(self.find("#speaker-host").text, "<b>Kitchen</b>")
        self.assert_no_markup("#speaker-host")

        for name, mode, after in ((LISTED, "add", ["tone.wav", LISTED]),
                                  (SHOWN, "next", ["tone.wav", SHOWN, LISTED])):
            self.find("#show-library").click()
            row(name).find_element(By.CSS_SELECTOR, ".more").click()
            self.find(f'#play-menu button[data-mode="{mode}"]').click()
            self.wait(lambda: speaker.play_list() == [url + n for n in after],
                      f"{mode}: the list is not {after}")

    def test_own_speaker_refused_when_not_allowed(self):
        self.open_page()
        self.assertEqual(Select(self.find("#target")).options[0].text, "My Computer")
        Select(self.find("#target")).select_by_index(0)
        self.find("#open-speaker").click()
        self.wait(lambda: self.find("#session-status").get_attribute("data-status") == "refused",
                  "the own speaker is not refused")
        self.assertTrue(self.find("#session-status").text)
        self.assertEqual(self.driver.title, os.uname().nodename + " Player")  # by its own name

    def test_foreign_host_or_origin_refused(self):
        own = f"{H.ADDRESS_A}:{H.MEDIA_PORT}"
        for host, origin, status in ((own, None, 200), ("rebound.example", None, 403),
                                     (own, "http://rebound.example", 403)):
            with self.subTest(host=host, origin=origin):
                connection = http.client.HTTPConnection(H.ADDRESS_A, H.MEDIA_PORT, timeout=5)
                headers = {"Host": host} | ({"Origin": origin} if origin else {})
                connection.request("GET", "/vx-remote/api/speakers", headers=headers)
                reply = connection.getresponse()
                body = reply.read()
                connection.close()
                self.assertEqual(reply.status, status, body[:200])
                if status == 200:
                    self.assertEqual(json.loads(body)["speakers"][0], "My Computer")

    def test_long_play_list_comes_by_range(self):
        speaker = H.Controller(H.ADDRESS_B)
        self.addCleanup(speaker.close)
        self.addCleanup(lambda: speaker.send("UPDATELIST", "0"))
        urls = [f"http://{H.ADDRESS_A}:1/{i:05}.wav" for i in range(1500)]
        speaker.send("UPDATELIST", f"{len(urls)}\r\n" + "\r\n".join(urls))
        self.wait(lambda: len(speaker.play_list()) == 1500, "the speaker has no long list")
        self.open_page()
        self.find("#target-name").send_keys(H.ADDRESS_B)
        self.find("#open-speaker").click()
        self.wait(lambda: "1500 tracks" in self.find("#list-count").text, "no long list shown")
        self.assertEqual(self.texts("#playlist li")[-1], "")  # not asked for yet
        self.driver.execute_script(
            "const rows = document.querySelectorAll('#playlist li');"
            "rows[rows.length - 1].scrollIntoView()")
        self.wait(lambda: "01499.wav" in self.texts("#playlist li")[-1],
                  "the last rows did not come when scrolled to")

    def test_library_filter(self):
        self.open_page()
        self.find("#filter").send_keys("TONE")
        self.wait(lambda: len(self.texts("#library li")) == 1, "the filter shows more than one")
        self.assertIn(TITLE, self.texts("#library li")[0])  # a tagged row shows its title
        self.wait(lambda: self.find("#library-count").text == "1 of 3 tracks", "wrong count")

    def test_search_open_album_and_play_it(self):
        speaker = H.Controller(H.ADDRESS_B)
        self.addCleanup(speaker.close)
        self.addCleanup(lambda: speaker.send("UPDATELIST", "0"))

        def found():  # B's tags are read by its scanner after it starts
            connection = http.client.HTTPConnection(H.ADDRESS_B, H.MEDIA_PORT, timeout=5)
            connection.request("GET", "/vx-remote/api/library?filter=annbjorg")
            return json.loads(connection.getresponse().read())["count"] == 3
        self.wait(found, "B's tags were not read", 20)
        self.driver.get(f"http://{H.ADDRESS_B}:{H.MEDIA_PORT}/")
        self.find("#filter").send_keys("annbjorg")
        self.wait(lambda: len(self.texts("#library li")) == 3, "the search does not fold")
        self.find("#show-albums").click()
        self.wait(lambda: self.texts("#shelf li") == ["PrismeAnnbj\u00f8rg Lien"], "no album")
        self.find("#shelf li .cover.none")  # no picture: a placeholder
        self.find("#shelf li").click()
        self.wait(lambda: [t[:5] for t in self.texts("#library li")] ==
                  ["F\u00f8rst", "Andre", "Tredj"], "the album's tracks are not in track order")
        self.find("#play-on").click()
        # Added after what an earlier test left there.
        self.wait(lambda: [u.rsplit("/", 1)[1] for u in speaker.play_list()[-3:]] ==
                  ["c.wav", "b.wav", "a.wav"], "the album did not reach the speaker in order")

    def test_library_names_shown_as_text(self):
        self.open_page()
        for name, shown in zip([TITLE, SHOWN, LISTED], self.texts("#library li")):
            self.assertIn(name, shown)
        self.assert_no_markup("#library")
        self.assertNotEqual(self.driver.title, "1")


# Another site's page: what a page may make a browser send without asking.
FOREIGN = """<!doctype html><iframe name=a></iframe><img src="{t}/vx-remote/api/events?host={s}">
<form method=post action="{t}/vx-remote/api/watch" enctype=text/plain target=a>
<input name='{{"host":"{s}","x":"' value='"}}'></form><a id=link href="{t}/#{s}">speaker</a>
<script>
window.done = 0;
const one = () => window.done++;
document.images[0].onload = document.images[0].onerror = one;
document.forms[0].submit();
frames.a.frameElement.onload = one;
fetch("{t}/vx-remote/api/events?host={s}", {{mode: "no-cors"}}).then(one, one);
fetch("{t}/vx-remote/api/watch", {{mode: "no-cors", method: "POST", body: '{{"host":"{s}"}}'}})
  .then(one, one);
const es = new EventSource("{t}/vx-remote/api/events?host={s}");
es.onerror = () => {{ es.close(); one(); }};
</script>"""
# Tells the address of each connection a speaker's port gets.
LISTENER = """import socket
s = socket.create_server(("", 37400))
print("listening", flush=True)
while True:
    print(s.accept()[0].getsockname()[0], flush=True)"""


def beside_b(cls, command, parse, first=None):
    """For cls: a folder, two hosts, the program on host A, a browser, and command on host B
    (after first there): each line it prints after "listening", parsed, goes to the list
    returned with the folder's name."""
    folder = tempfile.TemporaryDirectory(prefix="vx-web-")
    cls.addClassCleanup(folder.cleanup)
    hosts = H.TwoHosts()
    cls.addClassCleanup(hosts.close)
    if first:
        H.run(hosts.in_b(first))
    process = subprocess.Popen(hosts.in_b(command), stdout=subprocess.PIPE, text=True)
    cls.addClassCleanup(process.kill)
    assert process.stdout.readline() == "listening\n"
    got = []
    threading.Thread(target=lambda: [got.append(parse(line)) for line in process.stdout],
                     daemon=True).start()
    a = H.Copy(PROGRAM, folder.name + "/a", [], "", H.ADDRESS_A)
    cls.addClassCleanup(a.close)
    cls.driver = H.browser(folder.name)
    cls.addClassCleanup(cls.driver.quit)
    return folder.name, got


class ForeignPage(unittest.TestCase):
    SPEAKER, CONTROL = "10.250.0.2", "10.250.0.3"  # on host B, where LISTENER runs

    @classmethod
    def setUpClass(cls):
        folder, cls.reached = beside_b(
            cls, [sys.executable, "-c", LISTENER], str.strip,
            [H.tool("ip"), "addr", "add", cls.CONTROL + "/24", "dev", "vxb"])
        with open(folder + "/index.html", "w") as page:
            page.write(FOREIGN.format(t=f"http://{H.ADDRESS_A}:{H.MEDIA_PORT}", s=cls.SPEAKER))
        cls.pages = []
        for address in ("127.0.0.1", H.ADDRESS_A):  # cross-site, same-site
            server = http.server.ThreadingHTTPServer((address, 0), functools.partial(
                http.server.SimpleHTTPRequestHandler, directory=folder))
            threading.Thread(target=server.serve_forever, daemon=True).start()
            cls.addClassCleanup(server.shutdown)
            cls.pages.append(f"http://{address}:{server.server_port}/")

    def test_foreign_page_opens_no_speaker(self):
        driver = self.driver
        for page in self.pages:
            driver.get(page)
            H.wait_until(lambda: driver.execute_script("return window.done") == 5,
                         message="the foreign page's requests did not all end")
        driver.find_element(By.ID, "link").click()
        H.wait_until(lambda: driver.execute_script(
            "return document.getElementById('target-name')?.value") == self.SPEAKER,
            message="the link did not choose the speaker")
        self.assertTrue(driver.find_element(By.ID, "speaker-view").get_attribute("hidden"))
        # A tap opens a speaker; whatever the foreign pages did came before it.
        driver.execute_script("document.getElementById('target-name').value = arguments[0]",
                              self.CONTROL)
        driver.find_element(By.ID, "open-speaker").click()
        H.wait_until(lambda: self.CONTROL in self.reached, message="the tap opened nothing")
        self.assertNotIn(self.SPEAKER, self.reached)


class GroupPage(unittest.TestCase):
    """The page drives the group of a fake speaker on host B."""

    @classmethod
    def setUpClass(cls):
        fake = os.path.join(os.path.dirname(os.path.abspath(__file__)), "groupspeaker.py")
        _, cls.received = beside_b(cls, [sys.executable, fake], json.loads)

    def rooms(self):
        return self.driver.execute_script(
            "return [...document.querySelectorAll('#room-list li')].map(li => [li.children[0]"
            ".textContent, li.children[2].valueAsNumber, li.children[3].ariaPressed])")

    def got(self, message):
        H.wait_until(lambda: message in self.received, message=f"the speaker did not get {message}")

    def test_rooms_shown_and_driven(self):
        driver = self.driver
        driver.get(f"http://{H.ADDRESS_A}:{H.MEDIA_PORT}/")
        driver.find_element(By.ID, "target-name").send_keys(H.ADDRESS_B)
        driver.find_element(By.ID, "open-speaker").click()
        H.wait_until(lambda: self.rooms() == [["Study", 50, "false"], ["<b>Hall</b>", 30, "true"]],
                     message="the rooms are not shown")  # the answer to GROUPWATCH
        status = lambda: driver.find_element(By.ID, "group-status").text
        self.assertIn("<b>Hall</b>: waiting for the leader", status())
        self.assertEqual(driver.find_elements(By.CSS_SELECTOR, "#group b, #group i"), [])

        driver.execute_script(
            "const v = document.querySelectorAll('#room-list .room-volume')[1]; v.value = 70;"
            "v.dispatchEvent(new Event('change', {bubbles: true}));")
        self.got(["GROUPVOLUME", "hall", "70"])
        driver.find_elements(By.CSS_SELECTOR, "#room-list .room-mute")[1].click()
        self.got(["GROUPMUTE", "hall", "0"])
        H.wait_until(lambda: self.rooms()[1] == ["<b>Hall</b>", 70, "false"],
                     message="the room's new volume and mute are not shown")

        driver.find_element(By.ID, "add-room").click()  # this computer is no room of that group
        self.assertIn("My Computer", driver.execute_script(
            "return [...document.getElementById('room-choice').options].map(o => o.value)"))
        driver.find_element(By.ID, "room-name").send_keys("kitchen")
        driver.find_element(By.ID, "room-add").click()
        self.got(["GROUPADD", "kitchen"])
        H.wait_until(lambda: "<i>kitchen</i> cannot play in sync" in status(),
                     message="the refusal is not shown")

        driver.find_elements(By.CSS_SELECTOR, "#room-list .room-leave")[1].click()
        self.got(["GROUPLEAVE", "hall"])
        H.wait_until(lambda: self.rooms() == [], message="the room that left is still shown")


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
