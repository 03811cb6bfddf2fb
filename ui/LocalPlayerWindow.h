#pragma once

#include "PlayListPane.h"
#include "Speaker.h"
#include "TrackCaptions.h"

#include <QWidget>

class QAction;
class QMenu;
class QTableView;
class QToolBar;
class TAllowAction;
class TMediaControlStrip;
class TNowPlayingBar;
class TPlayListLook;

// The speaker's window: the media controls over the play list. It shows a speaker it does not
// own and forwards the owner's edits to it.
class TLocalPlayerWindow : public QWidget, public TPlayListEditor {
    Q_OBJECT
public:
    // Speaker must outlive the window.
    explicit TLocalPlayerWindow(TSpeaker &Speaker, QWidget *Parent = nullptr);
    ~TLocalPlayerWindow() override;

    TSpeaker &Speaker() const { return FSpeaker; }
    QTableView *PlayListView() const;

    // The owner's edits of the play list, on the selected rows.
    void RemoveSelected() override;
    void MoveSelectionDown() override;
    void MoveSelectionUp() override;
    void MoveSelectionToNextPlaying() override;
    // The rows land before Row.
    void DropSelectionOn(int Row) override;
    void SelectAll();
    // Double-click or Enter: the first selected row plays next.
    void PlaySelectedRow() override;
    bool PausesRow(int Row) const override;
    // The pop-up's first item: play or pause, as UpdatePlayListMenu set it up.
    void PlayOrPauseSelected(bool Pause) override;
    // The pop-up is opening: the allow entry's caption and the first item's Play/Pause.
    void UpdatePlayListMenu();
    // Switches whether other people may play on the speaker.
    void ToggleAllowOthers();
    // The allow entry shows what choosing it would do.
    void UpdateAllowAction();

    // What the list shows for a track before its name (empty: the name); called again when
    // its answers change.
    void SetCaptions(std::function<QString(const QByteArray &URL)> CaptionOf);
    // What the bar over the list shows of the current track, and the cover a hash names (null:
    // not at hand yet); ShowNowPlaying asks again.
    using TNowPlayingOf = std::function<TNowPlaying(const QByteArray &URL)>;
    using TCoverOf = std::function<QPixmap(const QByteArray &Hash)>;
    void SetNowPlaying(TNowPlayingOf NowPlayingOf, TCoverOf CoverOf);
    void ShowNowPlaying();
    TNowPlayingBar *NowPlayingBar() const { return FNowPlaying; }

    QMenu *PlayListMenu() const;
    QToolBar *ToolBar() const;

Q_SIGNALS:
    // The pop-up's "About" was chosen: the main window shows its about box.
    void AboutRequested();

private:
    TSpeaker &FSpeaker;
    TMediaControlStrip *FStrip = nullptr;
    TPlayListPane *FPane = nullptr;
    TAllowAction *FAllowAction = nullptr;
    TPlayListLook *FLook = nullptr;
    TNowPlayingBar *FNowPlaying = nullptr;
    TNowPlayingOf FNowPlayingOf;
    TCoverOf FCoverOf;
};
