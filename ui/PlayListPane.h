#pragma once

#include <QTableView>
#include <QWidget>

#include <functional>

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

// A play list with its tool bar (Remove, Down, Up) and pop-up menu. The pane enables what the
// selection allows; its owner does the edits when asked and puts the moved rows back in the
// selection with SelectRows.
class TPlayListPane : public QWidget {
    Q_OBJECT
public:
    // Model has a name and a "From" column. Mnemonics: "&Play", "Move &Down", "Move &Up".
    TPlayListPane(QAbstractItemModel *Model, int NameColumn, int FromColumn, bool Mnemonics,
                  QWidget *Parent = nullptr);

    TPlayListView *View() const { return FView; }
    QToolBar *ToolBar() const { return FToolBar; }
    QMenu *Menu() const { return FMenu; }

    // Rows of the selection, ascending.
    QList<int> SelectedRows() const;
    void SelectRows(const QList<int> &Rows);
    void SelectAll();
    // Puts Actions in the pop-up, in a group of their own before "About".
    void AddMenuGroup(const QList<QAction *> &Actions);
    // Whether the pop-up's first entry pauses when Row is the first selected one.
    void SetPausesRow(std::function<bool(int Row)> PausesRow) { FPausesRow = std::move(PausesRow); }
    // The pop-up is opening: the first entry's caption follows the selection.
    void UpdateMenu();
    void UpdateCommandStates();

Q_SIGNALS:
    // Enter or a double-click.
    void PlayRequested();
    // The pop-up's first entry, with what UpdateMenu made of it.
    void PlayOrPauseRequested(bool Pause);
    void RemoveRequested();
    void MoveDownRequested();
    void MoveUpRequested();
    void MoveToNextPlayingRequested();
    void RowsDropped(int Row);
    void AboutRequested();
    // Before UpdateMenu, each time the pop-up opens.
    void MenuOpening();

private:
    void BuildActions(bool Mnemonics);
    void BuildToolBar();

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
    std::function<bool(int)> FPausesRow;
    bool FPauseMode = false; // set each time the pop-up opens
};
