#pragma once

#include "FakeMedia.h"
#include "PlaybackEngine.h"
#include "SharingState.h"
#include "Speaker.h"

// The location of play-list row A, B, C...
inline QByteArray Url(char Row) {
    return "http://10.0.0.5:37401/" + QByteArray(1, Row) + ".mp3";
}

// A speaker on a fake component with rows A B C D E, B loaded and marked as current.
struct TSpeakerRig {
    TFakeMedia *Media = new TFakeMedia;
    TSharingState Sharing;
    TSpeaker Speaker{0, Sharing, std::unique_ptr<TMediaComponent>(Media)};

    TSpeakerRig() {
        Speaker.AddLocalTracks({Url('A'), Url('B'), Url('C'), Url('D'), Url('E')});
        Speaker.Engine()->ProcessListJob();
        Speaker.Engine()->PlayRow(1);
        Speaker.Engine()->PlayTick();
    }
};
