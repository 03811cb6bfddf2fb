"""python-mpd2 against a speaker: queue edits with ids, plchanges, command lists, and idle
woken by a controller on the command port. Arguments: host, MPD port, command port, two URLs."""
import socket
import sys
import threading
import time

from mpd import MPDClient

host, port, command_port, url_a, url_b = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
client = MPDClient()
client.connect(host, port)
client.clear()
version = int(client.status()["playlist"])
id_a = client.addid(url_a)
id_b = client.addid(url_b, 0)
rows = client.playlistinfo()
assert [r["id"] for r in rows] == [id_b, id_a], rows
assert int(client.status()["playlist"]) > version

before = int(client.status()["playlist"])
client.moveid(id_a, 0)
changed = client.plchangesposid(before)
assert sorted((c["cpos"], c["id"]) for c in changed) == [("0", id_a), ("1", id_b)], changed
assert client.playlistid(id_b)[0]["pos"] == "1"

client.command_list_ok_begin()
client.status()
client.playlistinfo()
results = client.command_list_end()
assert len(results) == 2 and results[0]["playlistlength"] == "2", results

client.playid(id_a)
while not (client.status()["state"] == "play" and float(client.status().get("elapsed", 0)) > 0.5):
    time.sleep(0.1)  # until it plays on
waiter = MPDClient()
waiter.connect(host, port)
woken = []
thread = threading.Thread(target=lambda: woken.extend(waiter.idle("player")))
thread.start()
controller = socket.create_connection((host, command_port))
controller.sendall(b"STATE\r\n2\r\n")  # pause, as a remote page sends it
thread.join()
assert woken == ["player"] and client.status()["state"] == "pause", woken
client.deleteid(id_b)
assert [r["id"] for r in client.playlistinfo()] == [id_a]
print("python-mpd2 ok")
