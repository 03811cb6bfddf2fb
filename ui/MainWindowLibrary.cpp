// TMainWindow's library tags: the scanner, the cache, and the status bar's reading progress.
#include "MainWindow.h"

#include "LibraryPage.h"
#include "LibraryTags.h"
#include "MusicLibrary.h"
#include "TagScanner.h"

#include <QProgressBar>
#include <QStatusBar>

void TMainWindow::CreateLibraryTags() {
    FTagScanner = new TTagScanner(TTagScanner::DefaultProgram(), this);
    FLibraryTags = new TLibraryTags(FTagScanner, TTagCache::DefaultFile(), this);
    FTagProgress = new QProgressBar;
    FTagProgress->setObjectName(QStringLiteral("FTagProgress"));
    FTagProgress->setMaximumWidth(220);
    FTagProgress->hide();
    statusBar()->addWidget(FTagProgress);
    connect(FLibraryTags, &TLibraryTags::ScanProgress, this, [this](int Done, int Total) {
        FTagProgress->setRange(0, std::max(Total, 1));
        FTagProgress->setValue(Done);
        FTagProgress->setFormat(QStringLiteral("Reading tags: %1 of %2").arg(Done).arg(Total));
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
    connect(FLibraryTags, &TLibraryTags::SourcesSet, FLibraryTags, &TLibraryTags::Rescan,
            Qt::SingleShotConnection);
    FLibraryTags->Follow(*FLibrary);
    FLibraryPage->SetLibraryTags(FLibraryTags);
}
