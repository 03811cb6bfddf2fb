#pragma once

#include "MediaComponent.h"

#include <QByteArrayList>

// A media component whose state the test sets by hand; it records the calls it gets.
class TFakeMedia : public TMediaComponent {
public:
    QByteArray LoadedURL;
    int State = 0;
    double Position = 0;
    double Length = 0;
    int Vol = DefaultVolume;
    bool Muted = false;
    bool Loaded = false;
    QString Name;
    QString Author;
    QByteArrayList Calls;
    QByteArray NextURL;

    // Changes the state and raises the event, as the real component does.
    void Enter(int NewState) {
        State = NewState;
        Q_EMIT PlayStateChange(TPlayState(NewState));
    }

    void SetURL(const QByteArray &URL) override {
        Calls.append("SetURL " + URL);
        LoadedURL = URL;
        NextURL.clear();
        Loaded = true;
        Enter(9);
    }
    QByteArray URL() const override { return LoadedURL; }
    void SetNextURL(const QByteArray &URL) override { NextURL = URL; }
    // The loaded track ends and the queued one goes on without a stop, as libmpv does.
    void JoinNext() {
        LoadedURL = std::exchange(NextURL, {});
        Q_EMIT NextStarted(LoadedURL);
    }
    TPlayState PlayState() const override { return TPlayState(State); }
    void Play() override {
        Calls.append("Play");
        Enter(3);
    }
    void Pause() override {
        Calls.append("Pause");
        Enter(2);
    }
    void Stop() override {
        Calls.append("Stop");
        Enter(1);
    }
    double CurrentPosition() const override { return Position; }
    void SetCurrentPosition(double Seconds) override {
        Calls.append("Seek " + QByteArray::number(Seconds));
        Position = Seconds;
        Q_EMIT Seeked(Seconds);
    }
    QString CurrentPositionString() const override {
        return QStringLiteral("%1s").arg(int(Position));
    }
    int Volume() const override { return Vol; }
    void SetVolume(int Value) override {
        Calls.append("Volume " + QByteArray::number(Value));
        const bool Changed = Value != Vol;
        Vol = Value;
        if (Changed)
            Q_EMIT VolumeChange(Value);
    }
    bool Mute() const override { return Muted; }
    void SetMute(bool Value) override { Muted = Value; }
    bool HasMedia() const override { return Loaded; }
    double Duration() const override { return Length; }
    QString MediaName() const override { return Name; }
    QString MediaAuthor() const override { return Author; }
};
