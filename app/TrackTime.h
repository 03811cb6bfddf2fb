#pragma once

#include <QString>

// A track's time as every view writes it (the player's time, the library's Length, the remote
// pages): mm:ss, or h:mm:ss from one hour on; whole seconds, truncated. Nothing negative or not
// a number counts; a time from outside past any track's stops at MaxTrackTimeSeconds.
QString FormatTrackTime(double Seconds);
constexpr double MaxTrackTimeSeconds = 999999.0 * 3600;
