#pragma once

// One engine on a fake component, shared by the engine's two test programs.

#include "AsciiText.h"
#include "FakeMedia.h"
#include "PlaybackEngine.h"

#include <memory>

constexpr qint64 Minute = 60 * 1000;

inline QByteArray Render(const QByteArray &Word, const QByteArray &Payload) {
    QByteArray Out = Word;
    for (const QByteArray &Line : SplitLines(Payload))
        Out += " / " + Line;
    return Out;
}

// One engine on a fake component and a hand-driven clock, with every message it sends.
struct TRig {
    TFakeMedia Media;
    qint64 Clock = 1000000;
    QByteArrayList Sent;
    std::unique_ptr<TPlaybackEngine> Engine;

    explicit TRig(int Volume = 40) {
        Media.Vol = Volume;
        TMessageSink Sink;
        Sink.Broadcast = [this](const QByteArray &W, const QByteArray &P, const QByteArray &Skip) {
            Sent.append(Render(W, P) + (Skip.isEmpty() ? "" : " (skip " + Skip + ")"));
        };
        Sink.SendToConnection = [this](TConnectionId Id, const QByteArray &W, const QByteArray &P) {
            Sent.append("#" + QByteArray::number(Id) + " " + Render(W, P));
        };
        Engine = std::make_unique<TPlaybackEngine>(&Media, Sink, [this] { return Clock; });
    }
    void Command(const QByteArray &Word, const QByteArrayList &Lines, qint32 Value = 0,
                 const QByteArray &Peer = "10.0.0.5") {
        Engine->ExecuteCommand(7, Peer, TCommandMessage{Word, Lines, Value});
    }
    // A list already in place, without the start of its first track.
    void Load(const QByteArrayList &URLs) {
        Engine->AddLocalTracks(URLs);
        Engine->ProcessListJob();
        Sent.clear();
    }
    QByteArrayList Take() { return std::exchange(Sent, {}); }
    QByteArrayList TakeOnly(const QByteArray &Word) {
        QByteArrayList Out;
        for (const QByteArray &M : std::exchange(Sent, {}))
            if (M.startsWith(Word + " ") || M == Word)
                Out.append(M);
        return Out;
    }
    void Tick(int Count = 1) {
        for (int I = 0; I < Count; ++I)
            Engine->PlayTick();
    }
};

const QByteArray A = "http://10.0.0.5:37401/a.mp3";
const QByteArray B = "http://10.0.0.5:37401/b.mp3";
const QByteArray C = "http://10.0.0.5:37401/c.mp3";

inline QByteArray Url(char Row) {
    return "http://10.0.0.5:37401/" + QByteArray(1, char(Row - 'A' + 'a')) + ".mp3";
}
