#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>

#include <utility>

// mpv options as key/value pairs, applied in order before mpv_initialize.
using TMpvOptions = QList<std::pair<QByteArray, QByteArray>>;

// The options every player starts with: they keep mpv from reading user files, running
// scripts, opening windows or fetching anything but http(s), and give the states the
// engine relies on.
const TMpvOptions &BaseMpvOptions();

// Options a user or a test harness adds to the speaker's mpv, as "key=value,key=value"
// (the environment variable VX_MPV_OPTIONS, the settings key [Speaker] MpvOptions).
struct TUserMpvOptions {
    TMpvOptions Options;
    // One line per entry left out, for the log.
    QStringList Problems;
};
// Reads Text; an entry that is malformed, changes a base option or is not one of the sound
// output's, gapless, ReplayGain or cache options is left out and reported. Values cannot hold
// commas.
TUserMpvOptions ParseMpvOptions(QByteArrayView Text);

// Name of the environment variable read by UserMpvOptions().
constexpr char MpvOptionsVariable[] = "VX_MPV_OPTIONS";
// The settings key's options, then the environment's (which win), parsed; problems are logged.
TMpvOptions UserMpvOptions();
