// TMainWindow's library tags: the scanner, the cache, and the status bar's reading progress.
#include "MainWindow.h"

#include "CoverStore.h"
#include "LibraryBrowser.h"
#include "LibraryFolders.h"
#include "LibraryPage.h"
#include "LibraryTags.h"
#include "MusicLibrary.h"
#include "RemotePlayerPage.h"
#include "Settings.h"
#include "TagScanner.h"
#include "TrackCaptions.h"

#include <QCache>
#include <QIcon>

#include <QProgressBar>
#include <QStatusBar>

void TMainWindow::CreateLibraryTags() {
    FTagScanner = new TTagScanner(TTagScanner::DefaultProgram(), this);
    FLibraryTags = new TLibraryTags(FTagScanner, TTagCache::DefaultFile(), this);
    FTagProgress = new QProgressBar;
    FTagProgress->setObjectName(QStringLiteral("FTagProgress"));
    FTagProgress->hide();
    statusBar()->addWidget(FTagProgress);
    connect(FLibraryTags, &TLibraryTags::ScanProgress, this, [this](int Done, int Total) {
        FTagProgress->setRange(0, std::max(Total, 1));
        FTagProgress->setValue(Done);
        FTagProgress->setFormat(QStringLiteral("Reading tags: %1 of %2").arg(Done).arg(Total));
        // Wide enough for the whole text at the scan's end, so that it never shows clipped.
        const QString Longest = QStringLiteral("Reading tags: %1 of %1 ").arg(Total);
        FTagProgress->setMinimumWidth(FTagProgress->fontMetrics().horizontalAdvance(Longest) + 24);
        FTagProgress->setVisible(Done < Total);
    });
    connect(FLibraryTags, &TLibraryTags::ScanFinished, FTagProgress, &QWidget::hide);
    connect(FLibraryTags, &TLibraryTags::ScanFailed, this, [this](const QString &Reason) {
        FTagProgress->hide();
        constexpr int ShownMs = 30000;
        statusBar()->showMessage(QStringLiteral("Tags cannot be read: ") + Reason, ShownMs);
    });
    // The rows follow the library from its first load on, made off this thread; files changed
    // since the last run are read again once the rows stand.
    connect(FLibraryTags, &TLibraryTags::RowsReset, FLibraryTags, &TLibraryTags::Rescan,
            Qt::SingleShotConnection);
    FLibraryTags->Follow(*FLibrary);
    FLibraryPage->SetLibraryTags(FLibraryTags);
    // The library folders: walked once the rows stand, watched from then on.
    FLibraryFolders = new TLibraryFolders(*FLibrary, this);
    FLibraryFolders->SetTags(FLibraryTags);
    FLibraryPage->SetLibraryFolders(FLibraryFolders);
    connect(
        FLibraryTags, &TLibraryTags::RowsReset, FLibraryFolders,
        [this] { FLibraryFolders->SetFolders(TLibraryFolders::ParseFolders(LibraryFoldersText)); },
        Qt::SingleShotConnection);

    FCovers = new TCoverStore(TCoverStore::DefaultFolder(), QString(), this);
    FCovers->Follow(FLibraryTags);
    FTrackCaptions = new TTrackCaptions(
        *FLibrary, *FLibraryTags,
        [this](const QString &Host) { return FPlayTo->IsThisComputer(Host); },
        [this] { return MediaPort(); }, this);
    connect(FCovers, &TCoverStore::Ready, FTrackCaptions, &TTrackCaptions::Changed);
    ShowAlbumCovers();
}

void TMainWindow::ShowAlbumCovers() {
    // Icons are asked for only by the albums on screen; a few hundred are kept.
    constexpr int KeptIcons = 300;
    auto Icons = std::make_shared<QCache<QByteArray, QIcon>>(KeptIcons);
    TLibraryBrowser *Browser = FLibraryPage->Browser();
    Browser->SetCoverIcon([this, Icons](const QByteArray &Hash) {
        if (const QIcon *Icon = Icons->object(Hash))
            return *Icon;
        const QString File = CoverFile(Hash, TCoverStore::SmallSize);
        if (File.isEmpty())
            return QIcon();
        auto *Icon = new QIcon(File);
        Icons->insert(Hash, Icon);
        return *Icon;
    });
    connect(FCovers, &TCoverStore::Ready, Browser, [Browser](const QByteArray &Hash, int Size) {
        if (Size == TCoverStore::SmallSize)
            Browser->CoverReady(Hash);
    });
}

QString TMainWindow::CoverFile(const QByteArray &Hash, int Size) {
    const QString File = FCovers->ThumbnailFile(Hash, Size);
    const QByteArray Key = Hash + '/' + QByteArray::number(Size);
    if (File.isEmpty() && !FCoversAsked.contains(Key)) {
        FCoversAsked.insert(Key);
        FCovers->Request(Hash, Size);
    }
    return File;
}

template <typename TView> void TMainWindow::ShowTrackCaptions(TView *View) {
    if (!FTrackCaptions)
        return;
    View->SetCaptions(FTrackCaptions->CaptionOf());
    connect(FTrackCaptions, &TTrackCaptions::Changed, View,
            [View, this] { View->SetCaptions(FTrackCaptions->CaptionOf()); });
}

template void TMainWindow::ShowTrackCaptions(TLocalPlayerWindow *);
template void TMainWindow::ShowTrackCaptions(TRemotePlayerPage *);
