#pragma once

#include <QByteArray>
#include <QString>

// A speaker's name is text from outside: it travels between copies and shows in boxes,
// captions and the phone page.
constexpr int MaxSpeakerNameChars = 63;

// Whether C would make a text show other than it reads: a control character, a line or
// paragraph separator, a zero-width character or a bidirectional mark.
bool IsHiddenMark(char32_t C);

// Name as plain text: hidden marks dropped, every run of white space one blank, no blanks at
// either end, at most MaxSpeakerNameChars characters (never half of one).
QString CleanSpeakerName(const QString &Name);
QString CleanSpeakerName(const QByteArray &Utf8);
