#pragma once

#include <QTableView>
#include <QWidget>

class QAction;
class QMenu;
class QToolBar;
class QToolButton;

// A play list's table: whole rows selected, no headers, no editing; Enter arrives as
// EnterPressed, the table's own rows dropped onto a row as RowsDropped. Drops from
// anywhere else are refused.
class TPlayListView : public QTableView {
    Q_OBJECT
public:
    explicit TPlayListView(QWidget *Parent = nullptr);

Q_SIGNALS:
    void EnterPressed();
    // The selection was dropped on Row.
    void RowsDropped(int Row);

protected:
    void keyPressEvent(QKeyEvent *Event) override;
    void dragEnterEvent(QDragEnterEvent *Event) override;
    void dragMoveEvent(QDragMoveEvent *Event) override;
    void dropEvent(QDropEvent *Event) override;

private:
    void HandleDrag(QDropEvent *Event);
};

// What a play-list pane asks of its owner; the edits apply to the pane's selected rows.
class TPlayListEditor {
public:
    virtual ~TPlayListEditor() = default;
    // Enter or a double-click: the first selected row plays.
    virtual void PlaySelectedRow() = 0;
    // Whether the pop-up's first entry pauses when Row is the first selected one.
    virtual bool PausesRow(int Row) const = 0;
    // The pop-up's first entry, as it was when the pop-up opened.
    virtual void PlayOrPauseSelected(bool Pause) = 0;
    virtual void RemoveSelected() = 0;
    virtual void MoveSelectionDown() = 0;
    virtual void MoveSelectionUp() = 0;
    virtual void MoveSelectionToNextPlaying() = 0;
    // The selection was dragged onto Row.
    virtual void DropSelectionOn(int Row) = 0;
};

// A play list with its tool bar (Remove, Down, Up) and pop-up menu. The pane enables what the
// selection allows; Editor does the edits and puts the moved rows back in the selection with
// SelectRows.
class TPlayListPane : public QWidget {
    Q_OBJECT
public:
    // Model has a name and a "From" column. Mnemonics: "&Play", "Move &Down", "Move &Up".
    // Editor must outlive the pane.
    TPlayListPane(TPlayListEditor &Editor, QAbstractItemModel *Model, int NameColumn,
                  int FromColumn, bool Mnemonics, QWidget *Parent = nullptr);

    TPlayListView *View() const { return FView; }
    QToolBar *ToolBar() const { return FToolBar; }
    QMenu *Menu() const { return FMenu; }

    // Rows of the selection, ascending.
    QList<int> SelectedRows() const;
    void SelectRows(const QList<int> &Rows);
    void SelectAll();
    // Puts Actions in the pop-up, in a group of their own before "About".
    void AddMenuGroup(const QList<QAction *> &Actions);
    // The pop-up is opening: the first entry's caption follows the selection.
    void UpdateMenu();
    void UpdateCommandStates();

Q_SIGNALS:
    void AboutRequested();
    // Before UpdateMenu, each time the pop-up opens.
    void MenuOpening();

private:
    void BuildActions(bool Mnemonics);
    void BuildToolBar();

    TPlayListEditor &FEditor;
    TPlayListView *FView = nullptr;
    QToolBar *FToolBar = nullptr;
    QToolButton *FRemoveButton = nullptr;
    QToolButton *FDownButton = nullptr;
    QToolButton *FUpButton = nullptr;
    QMenu *FMenu = nullptr;
    QAction *FPlayOrPauseAction = nullptr;
    QAction *FRemoveAction = nullptr;
    QAction *FSelectAllAction = nullptr;
    QAction *FMoveDownAction = nullptr;
    QAction *FMoveUpAction = nullptr;
    QAction *FMoveToNextPlayingAction = nullptr;
    QAction *FAboutAction = nullptr;
    bool FPauseMode = false; // set each time the pop-up opens
};
