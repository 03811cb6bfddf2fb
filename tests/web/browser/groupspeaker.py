"""A fake speaker with a group of two rooms that it changes as told; it refuses every
GROUPADD and prints each message it receives as a JSON list."""

import json
import socket
import threading

ARGUMENTS = {"GROUPWATCH": 0, "GROUPVOLUME": 2, "GROUPMUTE": 2}  # every other word: one
rooms = [["10.250.0.2", "Study", 50, 0, "playing"],
         ["hall", "<b>Hall</b>", 30, 1, "waiting for the leader"]]
lock = threading.Lock()


def group():
    lines = ["\t".join(map(str, room)) for room in rooms]
    return "GROUP\r\n%d\r\n" % len(lines) + "".join(line + "\r\n" for line in lines)


def answer(word, args):
    if word == "GET":
        return "LIST\r\n0\r\nSTATE\r\n1\r\nVOLUMN\r\n50\r\nMUTE\r\n0\r\n"
    if word == "GROUPADD":
        return f"GROUPERROR\r\n<i>{args[0]}</i> cannot play in sync: it does not answer.\r\n"
    room = next((r for r in rooms if args and r[0] == args[0]), None)
    if word == "GROUPLEAVE" and room:
        rooms.remove(room)
    elif word in ("GROUPVOLUME", "GROUPMUTE") and room:
        room[2 if word == "GROUPVOLUME" else 3] = int(args[1])
    elif word != "GROUPWATCH":
        return ""
    return group()


def serve(connection):
    lines = connection.makefile("rb")
    while True:
        word = lines.readline()
        if not word:
            return
        word = word.decode().rstrip("\r\n")
        args = [lines.readline().decode().rstrip("\r\n") for _ in range(ARGUMENTS.get(word, 1))]
        with lock:
            print(json.dumps([word] + args), flush=True)
            connection.sendall(answer(word, args).encode())


server = socket.create_server(("", 37400))
print("listening", flush=True)
while True:
    threading.Thread(target=serve, args=(server.accept()[0],), daemon=True).start()
