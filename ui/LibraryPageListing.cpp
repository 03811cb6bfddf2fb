// The library page's listing: the search box, the sort by a header click, the columns shown,
// and the browse panel; which rows they show is ListedRows' business.
#include "LibraryPage.h"

#include "LibraryBrowser.h"
#include "LibraryTableModel.h"
#include "LibraryTags.h"
#include "LibraryView.h"
#include "MusicLibrary.h"
#include "SearchFold.h"
#include "Settings.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QToolButton>

namespace {
// Tags arriving in a scan list the rows anew after this pause (ms), not at every batch.
constexpr int RelistDelayMs = 300;
} // namespace

void TLibraryPage::CreateListing() {
    auto *Bar = new QWidget(this);
    auto *Row = new QHBoxLayout(Bar);
    Row->setContentsMargins(0, 0, 0, 0);
    FSearchBox = new QLineEdit(Bar);
    FSearchBox->setObjectName(QStringLiteral("FSearchBox"));
    FSearchBox->setPlaceholderText(QStringLiteral("Search"));
    FSearchBox->setAccessibleName(QStringLiteral("Search the library"));
    FSearchBox->setClearButtonEnabled(true);
    FSearchBox->setEnabled(false); // until there are tags to search
    FBrowseButton = new QToolButton(Bar);
    FBrowseButton->setObjectName(QStringLiteral("FBrowseButton"));
    FBrowseButton->setText(QStringLiteral("Browse"));
    FBrowseButton->setToolTip(QStringLiteral("Browse by artist and album"));
    FBrowseButton->setCheckable(true);
    FBrowseButton->setEnabled(false);
    Row->addWidget(FSearchBox, 1);
    Row->addWidget(FBrowseButton);

    FSplitter = new QSplitter(Qt::Vertical, this);
    FBrowser = new TLibraryBrowser(FSplitter);
    FBrowser->setObjectName(QStringLiteral("FBrowser"));
    FBrowser->hide();
    FSplitter->addWidget(FBrowser);
    FSplitter->addWidget(FLibraryView);
    FSplitter->setStretchFactor(1, 2);

    connect(FSearchBox, &QLineEdit::textChanged, this, &TLibraryPage::Relist);
    FSearchBox->installEventFilter(this);
    FFindAction = new QAction(QStringLiteral("Find"), this);
    FFindAction->setObjectName(QStringLiteral("FFindAction"));
    FFindAction->setShortcut(QKeySequence::Find);
    FFindAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(FFindAction); // anywhere on the page
    connect(FFindAction, &QAction::triggered, this, &TLibraryPage::FocusSearch);
    setTabOrder(FSearchBox, FLibraryView);
    connect(FBrowseButton, &QToolButton::toggled, this, [this](bool On) {
        FBrowser->setVisible(On);
        Relist();
    });
    connect(FBrowser, &TLibraryBrowser::ChoiceChanged, this, &TLibraryPage::Relist);
    // An album played: its rows as the table shows them, in disc and track order.
    connect(FBrowser, &TLibraryBrowser::AlbumActivated, this, [this] {
        FLibraryView->clearSelection();
        PlayOnTypedComputer();
    });
    FRelistDelay.setSingleShot(true);
    FRelistDelay.setInterval(RelistDelayMs);
    connect(&FRelistDelay, &QTimer::timeout, this, &TLibraryPage::Relist);
    FSummaryDelay.setSingleShot(true);
    FSummaryDelay.setInterval(RelistDelayMs);
    connect(&FSummaryDelay, &QTimer::timeout, this, &TLibraryPage::UpdateSummary);
    CreateHeaderMenu();
}

bool TLibraryPage::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched != FSearchBox || Event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(Watched, Event);
    switch (static_cast<QKeyEvent *>(Event)->key()) {
    case Qt::Key_Down:
        // Into the results, on the first unless a row is chosen already.
        FLibraryView->setFocus(Qt::TabFocusReason);
        if (!FLibraryView->currentIndex().isValid() && FTableModel->rowCount() > 0)
            FLibraryView->setCurrentIndex(FTableModel->index(0, 0));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // What the search shows, whatever is selected elsewhere in it.
        FLibraryView->clearSelection();
        PlayOnTypedComputer();
        return true;
    case Qt::Key_Escape:
        if (FSearchBox->text().isEmpty())
            return false;
        FSearchBox->clear();
        return true;
    default:
        return false;
    }
}

void TLibraryPage::RestoreColumnWidths() {
    QHeaderView *Header = FLibraryView->header();
    Header->setMinimumSectionSize(24);
    // The disc beside the track number, the optional columns after the album.
    Header->moveSection(Header->visualIndex(int(TLibraryColumn::Disc)),
                        Header->visualIndex(int(TLibraryColumn::Number)));
    for (const auto Column : {TLibraryColumn::Genre, TLibraryColumn::Year})
        Header->moveSection(Header->visualIndex(int(Column)),
                            Header->visualIndex(int(TLibraryColumn::Album)) + 1);
    const QFontMetrics Metrics(FLibraryView->font());
    const auto Chars = [&](int N) { return Metrics.averageCharWidth() * N + 16; };
    const int Defaults[LibraryColumnCount] = {Chars(30), Chars(20), Chars(20), Chars(3), Chars(7),
                                              Chars(24), Chars(4),  Chars(5),  Chars(12)};
    const QByteArrayList Saved = LibraryColumnWidthsText.split(',');
    for (int Column = 0; Column < LibraryColumnCount; ++Column) {
        bool Ok = false;
        const int Width = Saved.value(Column).trimmed().toInt(&Ok);
        Header->resizeSection(Column,
                              Ok && Width >= 24 && Width <= 4000 ? Width : Defaults[Column]);
    }
    // The title takes what the other columns leave.
    Header->setSectionResizeMode(int(TLibraryColumn::Title), QHeaderView::Stretch);
    FWidthsDelay.setSingleShot(true);
    FWidthsDelay.setInterval(1000);
    connect(&FWidthsDelay, &QTimer::timeout, this, &TLibraryPage::SaveColumnWidths);
    connect(Header, &QHeaderView::sectionResized, this, [this](int Column) {
        if (Column != int(TLibraryColumn::Title))
            FWidthsDelay.start();
    });
}

void TLibraryPage::SaveColumnWidths() {
    QByteArrayList Widths;
    for (int Column = 0; Column < LibraryColumnCount; ++Column)
        Widths.append(QByteArray::number(FLibraryView->header()->sectionSize(Column)));
    const QByteArray Text = Widths.join(',');
    if (Text == LibraryColumnWidthsText || !isVisible())
        return;
    LibraryColumnWidthsText = Text;
    WriteIniText(IniFileName, SettingsKey::LibraryColumnWidths, Text);
}

void TLibraryPage::UpdateSummary() {
    FSummaryDelay.stop();
    const int Shown = FTableModel->rowCount();
    qint64 Ms = 0;
    if (FTags)
        for (int Row = 0; Row < Shown; ++Row) {
            // The tags' rows are the library's as a rule: a look-up only where they differ.
            const int At = FTableModel->LibraryRow(Row);
            const QByteArray &Source = FLibrary.Row(At).Source;
            // Rows past the tags' are new: their tags come with the next rows made.
            if (At >= FTags->Count())
                continue;
            const int Tag = FTags->Source(At) == Source ? At : FTags->RowOf(Source);
            if (Tag >= 0)
                Ms += FTags->Tags(Tag).DurationMs;
        }
    FSummaryLabel->setText(ListingSummary(Shown, FLibrary.Count(), Ms));
    FLibraryView->SetEmptyText(
        Shown == 0 && FLibrary.Count() > 0
            ? QStringLiteral("No track matches \"%1\".").arg(FSearchBox->text())
            : QString());
}

void TLibraryPage::CreateHeaderMenu() {
    QHeaderView *Header = FLibraryView->header();
    Header->setSectionsClickable(true);
    Header->setSectionsMovable(false);
    Header->setStretchLastSection(false);
    Header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Header, &QHeaderView::sectionClicked, this, &TLibraryPage::SortByColumn);
    FHeaderMenu = new QMenu(this);
    FLibraryOrderAction = FHeaderMenu->addAction(QStringLiteral("Library order"));
    FLibraryOrderAction->setObjectName(QStringLiteral("FLibraryOrderAction"));
    FLibraryOrderAction->setCheckable(true);
    connect(FLibraryOrderAction, &QAction::triggered, this, [this] {
        FChoice.SortColumn = -1;
        ShowSort();
        Relist();
    });
    FHeaderMenu->addSeparator();
    for (int Column = 0; Column < LibraryColumnCount; ++Column) {
        QAction *Shown =
            FHeaderMenu->addAction(FTableModel->headerData(Column, Qt::Horizontal).toString());
        Shown->setCheckable(true);
        Shown->setChecked(!LibraryColumnHidden(LibraryHiddenColumns, Column));
        connect(Shown, &QAction::toggled, this, [this, Column](bool On) {
            FLibraryView->setColumnHidden(Column, !On);
            SaveHiddenColumns();
        });
    }
    connect(Header, &QWidget::customContextMenuRequested, this, [this, Header](const QPoint &At) {
        const QList<QAction *> Actions = FHeaderMenu->actions();
        int Shown = 0;
        for (int Column = 0; Column < LibraryColumnCount; ++Column)
            Shown += FLibraryView->isColumnHidden(Column) ? 0 : 1;
        for (int Column = 0; Column < LibraryColumnCount; ++Column) {
            QAction *A = Actions[Column + 2];
            const QSignalBlocker Quiet(A);
            A->setChecked(!FLibraryView->isColumnHidden(Column));
            A->setEnabled(Shown > 1 || !A->isChecked()); // the last column shown stays
        }
        FLibraryOrderAction->setChecked(FChoice.SortColumn < 0);
        FHeaderMenu->popup(Header->mapToGlobal(At));
    });
}

void TLibraryPage::SaveHiddenColumns() {
    qint32 Hidden = 0;
    for (int Column = 0; Column < LibraryColumnCount; ++Column)
        Hidden |= LibraryColumnBit(FLibraryView->isColumnHidden(Column), Column);
    if (Hidden == LibraryHiddenColumns)
        return;
    LibraryHiddenColumns = Hidden;
    WriteIniValues(IniFileName, {{SettingsKey::LibraryHiddenColumns, Hidden}});
}

void TLibraryPage::ShowSort() {
    QHeaderView *Header = FLibraryView->header();
    Header->setSortIndicatorShown(FChoice.SortColumn >= 0);
    if (FChoice.SortColumn >= 0)
        Header->setSortIndicator(FChoice.SortColumn, FChoice.Order);
    for (int Column = 0; Column < LibraryColumnCount; ++Column)
        FLibraryView->setColumnHidden(Column, LibraryColumnHidden(LibraryHiddenColumns, Column));
}

void TLibraryPage::SortByColumn(int Column) {
    if (!FTags)
        return;
    if (FChoice.SortColumn != Column)
        FChoice = {Column, Qt::AscendingOrder, FChoice.Artist, FChoice.Album};
    else if (FChoice.Order == Qt::AscendingOrder)
        FChoice.Order = Qt::DescendingOrder;
    else
        FChoice.SortColumn = -1;
    ShowSort();
    Relist();
}

void TLibraryPage::SetLibraryTags(TLibraryTags *Tags) {
    FTags = Tags;
    FTableModel->SetTags(Tags);
    for (QWidget *W : {static_cast<QWidget *>(FSearchBox), static_cast<QWidget *>(FBrowseButton)})
        W->setEnabled(Tags != nullptr);
    FRescanAction->setEnabled(Tags != nullptr);
    if (!Tags)
        return;
    connect(FRescanAction, &QAction::triggered, Tags, &TLibraryTags::Rescan);
    connect(Tags, &TLibraryTags::RowsReset, this, &TLibraryPage::Relist);
    connect(Tags, &TLibraryTags::AlbumsChanged, this, &TLibraryPage::Relist);
    connect(Tags, &TLibraryTags::RowsChanged, this, [this] {
        if (!FSummaryDelay.isActive())
            FSummaryDelay.start();
        // Only a search or a sort can show other rows for new tags.
        if (!FTableModel->ShowsAll() && !FRelistDelay.isActive())
            FRelistDelay.start();
    });
}

void TLibraryPage::Relist() {
    FRelistDelay.stop();
    if (!FTags || !FTags->InStep())
        return; // RowsReset comes once they are
    TListingChoice Choice = FChoice;
    const bool Browsing = FBrowseButton->isChecked();
    Choice.Artist = Browsing ? FBrowser->Artist() : -1;
    Choice.Album = Browsing ? FBrowser->Album() : -1;
    const QString Query = FSearchBox->text();
    TSearchHits Hits;
    if (!SearchWords(Query).isEmpty())
        Hits = FTags->Find(Query);
    const std::shared_ptr<const TAlbumIndex> Albums = FTags->Albums();
    if (Browsing) {
        FBrowser->Fill(Albums, Hits);
        Choice.Artist = FBrowser->Artist();
        Choice.Album = FBrowser->Album();
    }
    if (Choice.NeedsAlbums() && !Albums)
        return; // AlbumsChanged comes once they are made
    if (!Hits && !Choice.NeedsAlbums())
        FTableModel->SetRows(std::nullopt);
    else
        FTableModel->SetRows(ListedRows(Albums.get(), FTags->Count(), Hits, Choice));
    UpdateCommandStates();
    UpdateSummary();
}
