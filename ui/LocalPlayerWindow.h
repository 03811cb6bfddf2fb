#pragma once

#include "Speaker.h"

#include <QWidget>

class QAction;
class QMenu;
class QTableView;
class QToolBar;
class QToolButton;
class TMediaControlStrip;

// The speaker's window: the media controls over the play list. It shows a speaker it does not
// own and forwards the owner's edits to it.
class TLocalPlayerWindow : public QWidget {
    Q_OBJECT
public:
    // Speaker must outlive the window.
    explicit TLocalPlayerWindow(TSpeaker &Speaker, QWidget *Parent = nullptr);
    ~TLocalPlayerWindow() override;

    TSpeaker &Speaker() const { return FSpeaker; }
    QTableView *PlayListView() const { return FPlayListView; }

    // The owner's edits of the play list, on the selected rows.
    void RemoveSelected();
    void MoveSelectionDown();
    void MoveSelectionUp();
    void MoveSelectionToNextPlaying();
    void SelectAll();
    // Double-click or Enter: the first selected row plays next.
    void PlaySelectedRow();
    // The pop-up's first item: play or pause, as UpdatePlayListMenu set it up.
    void PlayOrPauseSelected();
    // The pop-up is opening: the allow entry's caption and the first item's Play/Pause.
    void UpdatePlayListMenu();
    // Enables the buttons and menu items that the selection allows.
    void UpdateCommandStates();
    // Switches the speaker's AllowOthers.
    void ToggleAllowOthers();
    // The allow entry shows what choosing it would do.
    void UpdateAllowAction();

    QMenu *PlayListMenu() const { return FPlayListMenu; }
    QToolBar *ToolBar() const { return FToolBar; }

Q_SIGNALS:
    // The pop-up's "About" was chosen: the main window shows its about box.
    void AboutRequested();

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void BuildPlayListView();
    void BuildActions();
    void BuildToolBar();
    // Rows of the selection, ascending.
    QList<int> SelectedRows() const;
    void SelectRows(const QList<int> &Rows);
    // Drops from the view itself only; the rows land before the row under the point.
    bool HandleDragEvent(QEvent *Event);

    TSpeaker &FSpeaker;
    TMediaControlStrip *FStrip = nullptr;
    QTableView *FPlayListView = nullptr;
    QToolBar *FToolBar = nullptr;
    QToolButton *FRemoveButton = nullptr;
    QToolButton *FDownButton = nullptr;
    QToolButton *FUpButton = nullptr;
    QMenu *FPlayListMenu = nullptr;
    QAction *FPlayAction = nullptr;
    QAction *FRemoveAction = nullptr;
    QAction *FSelectAllAction = nullptr;
    QAction *FMoveDownAction = nullptr;
    QAction *FMoveUpAction = nullptr;
    QAction *FMoveToNextPlayingAction = nullptr;
    QAction *FAllowAction = nullptr;
    QAction *FAboutAction = nullptr;
    bool FPauseMode = false; // set each time the pop-up opens
};
