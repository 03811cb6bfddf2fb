#pragma once

#include <QByteArray>

class TMpdCommandTable;
class TMpdDoor;

// The commands about the connection itself: ping, close, password, commands, notcommands,
// tagtypes, binarylimit, urlhandlers, decoders, idle and noidle. Password: empty for none.
void AddConnectionCommands(TMpdCommandTable &Table, const QByteArray &Password);
// The speaker's commands: status, currentsong, stats, play, pause, seek, volume, outputs,
// the play options.
void AddPlayerCommands(TMpdDoor &Door);
// The queue's commands: playlistinfo, plchanges, add, delete, move...
void AddQueueCommands(TMpdDoor &Door);
