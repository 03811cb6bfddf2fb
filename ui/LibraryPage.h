#pragma once

#include "LibraryListing.h"
#include "PlayPlan.h"
#include "RowMove.h"

#include <QByteArrayList>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <optional>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QToolBar;
class QToolButton;
class TAllowAction;
class TFolderScan;
class TLibraryFolders;
class TLibraryBrowser;
class TLibraryTableModel;
class TLibraryTags;
class TLibraryView;
class TMusicLibrary;
class TPresence;
struct TRefusedSource;

// The "Music library" page: the list and its editing, adding sources and saving, the known
// computers in the "Play on" box, and which rows are to be played where.
class TLibraryPage : public QWidget {
    Q_OBJECT
public:
    // The computers presence knows, "My Computer" first.
    QStringList KnownComputers() const;
    // The window's entries that the library menu holds as well.
    struct TSharedActions {
        TAllowAction *Allow = nullptr;
        QAction *Help = nullptr;
        QAction *About = nullptr;
        QAction *PhoneRemote = nullptr;
    };
    // Library: the store the page shows and edits; it outlives the page.
    TLibraryPage(TMusicLibrary &Library, const TSharedActions &Shared, QWidget *Parent = nullptr);

    // Where the known computers come from; none lists no computer.
    void SetPresence(const TPresence *Presence);
    // Where the rows' tags come from (not owned); without them the rows show their names and
    // neither search, sort nor browse.
    void SetLibraryTags(TLibraryTags *Tags);
    // The library folders kept in step (not owned): their dialog, and saving what they add.
    void SetLibraryFolders(TLibraryFolders *Folders);
    // The browse panel, for the album covers.
    TLibraryBrowser *Browser() const { return FBrowser; }
    // Entries whose keys work anywhere in the window, on every page: the window adds them.
    QList<QAction *> WindowActions() const;

    // Reads the library file into the store; a failure is shown to the user.
    void LoadLibrary();
    // Shows the store's rows in the library view.
    void FillLibraryView();
    // Replaces the "Play on" box's items with the known computers, keeping its text.
    void RefreshComputerCombo();
    // Adds a source when it is an accepted audio name and new; refusals are silent.
    void AddToLibrary(const QByteArray &Source);
    // Adds several sources in order, drawn at once; how many were added.
    int AddToLibrary(const QByteArrayList &Sources);
    // Rewrites the library file from the rows; a failure is shown to the user.
    bool SaveLibrary();
    void AddFiles();
    void AddURLs();
    // Asks for a folder and adds the audio files under it.
    void AddFolder();
    // Adds the audio files under Folders off the GUI thread, rows in batches, progress shown.
    void AddFolders(const QByteArrayList &Folders);
    // Ends the folder walk; the rows found so far stay and are saved.
    void CancelAddFolders();
    // The "Library Folders..." dialog.
    void EditLibraryFolders();
    // Gives the search box the focus, its text selected.
    void FocusSearch();
    // The "Step 1 of 2" balloon at the Add button, while the library is empty and the second
    // hint was shown at most 4 times.
    void ShowFirstHint();
    // The "Step 2 of 2" balloon at the "Play on" box, while it was shown at most 4 times.
    void ShowSecondHint();
    // Gives the list the focus.
    void FocusList();

    // Play-to flow. Play: the box's text without spaces, lower-cased, checked, then played.
    void PlayOnTypedComputer() { PlayOnTypedComputerAs(TPlayMode::Add); }
    // The same as "Play Now", "Play Next" or "Add to Queue" (Mode).
    void PlayOnTypedComputerAs(TPlayMode Mode);
    void PlayOnThisComputer();
    // Asks for the computer in the selection dialog, then plays there.
    void PlayOnOtherComputer();
    // Opens (or brings forward) the page of the typed computer without sending tracks.
    void ConnectToTypedComputer();

    // Library list editing; every change is saved.
    void RemoveSelected();
    void MoveSelectionUp();
    void MoveSelectionDown();
    void SelectAll();
    // The library rows selected in the library view, ascending.
    QList<int> SelectedRows() const;
    // The library rows selected, in the order the view shows them.
    QList<int> SelectedRowsShown() const;
    // Enables Remove, Down and Up by the selection.
    void UpdateCommandStates();

Q_SIGNALS:
    // The library file was rewritten.
    void LibrarySaved();
    // Rows of the library (all rows when none is given), in view order, to be played on Host;
    // "localhost" is this computer.
    void PlayRequested(const QString &Host, const QList<int> &Rows, TPlayMode Mode);
    // The page of Host to be opened or brought forward, no tracks sent.
    void ConnectRequested(const QString &Host);

private:
    void CreatePlayOnBar();
    void CreateLibraryActions();
    void CreateAddActions();
    // The library list's pop-up menu: the play entries, the shared ones, the editing ones.
    void BuildLibraryMenu(const TSharedActions &Shared);
    void CreateToolBar();
    // The fixed texts: hints, the "Play on" text, and the names a screen reader reads.
    void ApplyTexts();
    // Applies a reordering of the library rows, selects the moved rows and saves.
    void ApplyLibraryMove(const std::optional<TRowMove> &Move);
    void LibraryFilesDropped(const QByteArrayList &Paths);
    // Tells the user, after the current event, which names were refused and why.
    void ReportRefused(const QList<TRefusedSource> &Refused);
    void CreateFolderBar();
    void OnFolderRowsFound(const QByteArrayList &Paths);
    void OnFolderWalkEnded(bool Cancelled);
    // The status line: the rows shown, of how many, and their total length.
    void UpdateSummary();
    // Search box keys: Down into the list, Enter plays, Escape clears.
    bool eventFilter(QObject *Watched, QEvent *Event) override;
    // Column widths: Title takes what the others leave; widths are kept in the settings.
    void RestoreColumnWidths();
    void SaveColumnWidths();
    // The selected rows to be played on Host.
    void PlayLibraryOn(const QString &Host, TPlayMode Mode = TPlayMode::Add);
    // "Play Now", "Play Next" and "Add to Queue" in the Play button's menu, the list's menu
    // and the browse panel's (which plays the album chosen there).
    void CreatePlayModeActions();
    // The "Play on" box's text, or the address of the known speaker it names.
    QString TypedComputer() const;
    // The computers presence knows of, as the "Play on" box lists them.

    // The search box, the browse switch and panel, the header's sorting and columns.
    void CreateListing();
    void CreateHeaderMenu();
    // Shows the rows the search, the sort and the browsed album ask for; waits while the tags
    // are catching up with the library.
    void Relist();
    // A header click: that column ascending, then descending, then library order.
    void SortByColumn(int Column);
    void ShowSort();
    void SaveHiddenColumns();
    TMusicLibrary &FLibrary;
    QPointer<const TPresence> FPresence;

    QWidget *FPlayOnBar = nullptr; // "Play on" row: label, computer box, the play buttons
    QLabel *FPlayOnLabel = nullptr;
    QComboBox *FPlayOnBox = nullptr;
    TLibraryView *FLibraryView = nullptr;
    QToolBar *FLibraryToolBar = nullptr;
    QToolButton *FAddButton = nullptr;
    QMenu *FAddMenu = nullptr;
    QMenu *FLibraryMenu = nullptr;
    QAction *FAddFilesAction = nullptr;
    QAction *FAddURLsAction = nullptr;
    QPushButton *FPlayButton = nullptr;
    QToolButton *FPlayArrowButton = nullptr;
    QMenu *FPlayMenu = nullptr;
    QAction *FPlayAction = nullptr;
    QAction *FConnectAction = nullptr;
    QAction *FPlayInLocalAction = nullptr;
    QAction *FPlayInOtherAction = nullptr;
    QList<QAction *> FPlayModeActions; // Play Now, Play Next, Add to Queue
    QMenu *FBrowseMenu = nullptr;
    QAction *FRemoveFilesAction = nullptr;
    QAction *FSelectAllAction = nullptr;
    QAction *FMoveDownAction = nullptr;
    QAction *FMoveUpAction = nullptr;
    QToolButton *FRemoveButton = nullptr;
    QToolButton *FDownButton = nullptr;
    QToolButton *FUpButton = nullptr;

    QAction *FAddFolderAction = nullptr;
    QAction *FLibraryFoldersAction = nullptr;
    QAction *FFindAction = nullptr;
    TFolderScan *FFolderScan = nullptr;
    int FFolderAdded = 0;
    int FFolderFound = 0; // audio files the walk found, new or not
    QWidget *FFolderBar = nullptr; // the folder walk's progress and its Cancel button
    QLabel *FFolderLabel = nullptr;
    QProgressBar *FFolderProgress = nullptr;
    QLabel *FSummaryLabel = nullptr;
    QLabel *FNoticeLabel = nullptr;
    QPointer<TLibraryFolders> FFolders;
    QTimer FSummaryDelay;
    QTimer FSaveDelay; // what the library folders add is saved once they pause
    QTimer FWidthsDelay;

    QPointer<TLibraryTags> FTags;
    TLibraryTableModel *FTableModel = nullptr;
    QLineEdit *FSearchBox = nullptr;
    QToolButton *FBrowseButton = nullptr;
    TLibraryBrowser *FBrowser = nullptr;
    QSplitter *FSplitter = nullptr;
    QMenu *FHeaderMenu = nullptr;
    QAction *FLibraryOrderAction = nullptr;
    QAction *FRescanAction = nullptr;
    TListingChoice FChoice;
    // Tags that arrive in a scan list the rows anew once they pause.
    QTimer FRelistDelay;
};
