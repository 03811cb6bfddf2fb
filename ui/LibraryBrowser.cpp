#include "LibraryBrowser.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int IndexRole = Qt::UserRole + 1;
constexpr int CoverRole = Qt::UserRole + 2;
// The covers' size in the album grid (the small thumbnails' size).
constexpr int CoverSize = 96;

// The picture of an album without a cover (yet): blank, at the covers' size.
const QIcon &BlankCover() {
    static const QIcon Blank = [] {
        QPixmap Pixmap(CoverSize, CoverSize);
        Pixmap.fill(Qt::transparent);
        return QIcon(Pixmap);
    }();
    return Blank;
}

// The picture of an album without a cover (yet), as the phone page draws it: a filled frame.
const QIcon &NoCover() {
    static const QIcon Icon = [] {
        QPixmap Pixmap(CoverSize, CoverSize);
        Pixmap.fill(Qt::transparent);
        QPainter Painter(&Pixmap);
        Painter.setRenderHint(QPainter::Antialiasing);
        const QPalette Palette = QApplication::palette();
        Painter.setPen(Palette.color(QPalette::Mid));
        Painter.setBrush(Palette.color(QPalette::AlternateBase));
        Painter.drawRoundedRect(QRectF(Pixmap.rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        return QIcon(Pixmap);
    }();
    return Icon;
}

int Chosen(const QListWidget *List) {
    const QListWidgetItem *Item = List->currentItem();
    return Item ? Item->data(IndexRole).toInt() : -1;
}

QListWidgetItem *AddItem(QListWidget *List, const QString &Text, int Index) {
    auto *Item = new QListWidgetItem(Text, List);
    Item->setData(IndexRole, Index);
    return Item;
}

// The text of the current entry; an index made anew numbers its entries anew.
QString ChosenText(const QListWidget *List) {
    const QListWidgetItem *Item = List->currentItem();
    return Item ? Item->text() : QString();
}

// Makes the entry of that text current, else the first.
void Choose(QListWidget *List, const QString &Text) {
    const QList<QListWidgetItem *> Found = List->findItems(Text, Qt::MatchExactly);
    if (Found.isEmpty())
        List->setCurrentRow(0);
    else
        List->setCurrentItem(Found.front());
}

} // namespace

TLibraryBrowser::TLibraryBrowser(QWidget *Parent) : QWidget(Parent) {
    auto *Layout = new QHBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(2);
    FArtistList = new QListWidget(this);
    FArtistList->setObjectName(QStringLiteral("FArtistList"));
    FArtistList->setAccessibleName(QStringLiteral("Artists"));
    FAlbumList = new QListWidget(this);
    FAlbumList->setObjectName(QStringLiteral("FAlbumList"));
    FAlbumList->setAccessibleName(QStringLiteral("Albums"));
    // A grid of covers, each at its size: every entry has a picture of that size (a blank one
    // while there is none), so uniform sizes, taken from the first entry, fit them all.
    FAlbumList->setViewMode(QListView::IconMode);
    FAlbumList->setIconSize(QSize(CoverSize, CoverSize));
    FAlbumList->setGridSize(QSize(CoverSize + 32, CoverSize + 2 * fontMetrics().height() + 12));
    FAlbumList->setResizeMode(QListView::Adjust);
    FAlbumList->setMovement(QListView::Static);
    FAlbumList->setWordWrap(true);
    FAlbumList->setTextElideMode(Qt::ElideRight);
    for (QListWidget *List : {FArtistList, FAlbumList})
        List->setUniformItemSizes(true);
    Layout->addWidget(FArtistList, 1);
    Layout->addWidget(FAlbumList, 3);
    connect(FArtistList, &QListWidget::currentRowChanged, this, [this] {
        if (FFilling)
            return;
        FFilling = true;
        FAlbumList->clear(); // another artist: all of its albums
        FFilling = false;
        FillAlbums();
        Q_EMIT ChoiceChanged();
    });
    connect(FAlbumList, &QListWidget::currentRowChanged, this, [this] {
        if (!FFilling)
            Q_EMIT ChoiceChanged();
    });
    connect(FAlbumList, &QListWidget::itemDoubleClicked, this, &TLibraryBrowser::AlbumActivated);
    FAlbumList->installEventFilter(this);
}

bool TLibraryBrowser::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == FAlbumList && Event->type() == QEvent::KeyPress) {
        const int Key = static_cast<QKeyEvent *>(Event)->key();
        if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
            Q_EMIT AlbumActivated();
            return true;
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

int TLibraryBrowser::Artist() const {
    return Chosen(FArtistList);
}

int TLibraryBrowser::Album() const {
    return Chosen(FAlbumList);
}

void TLibraryBrowser::Fill(std::shared_ptr<const TAlbumIndex> Index, const TSearchHits &Hits) {
    // The same lists again: kept, so that a click's second half finds the entry it began on.
    if (Index == FIndex && Hits == FHits && FArtistList->count() > 0)
        return;
    const QString Artist = ChosenText(FArtistList);
    FIndex = std::move(Index);
    FHits = Hits;
    FFilling = true;
    FArtistList->clear();
    AddItem(FArtistList, QStringLiteral("All artists"), -1);
    if (FIndex) {
        for (const int At : ListedArtists(*FIndex, FHits)) {
            const QString &Name = FIndex->Artists()[At].Name;
            AddItem(FArtistList, Name.isEmpty() ? QStringLiteral("Unknown artist") : Name, At);
        }
    }
    Choose(FArtistList, Artist);
    FFilling = false;
    FillAlbums();
}

void TLibraryBrowser::FillAlbums() {
    const QString Album = ChosenText(FAlbumList);
    const bool WasFilling = FFilling;
    FFilling = true;
    FAlbumList->clear();
    AddItem(FAlbumList, QStringLiteral("All albums"), -1)->setIcon(BlankCover());
    if (FIndex) {
        for (const int At : ListedAlbums(*FIndex, FHits, Artist())) {
            const TAlbum &A = FIndex->Albums()[At];
            QString Text = A.Title.isEmpty() ? QStringLiteral("Unknown album") : A.Title;
            if (A.Year > 0)
                Text += QStringLiteral(" (%1)").arg(A.Year);
            QListWidgetItem *Item = AddItem(FAlbumList, Text, At);
            Item->setIcon(NoCover());
            if (!A.CoverHash.isEmpty() && FCoverIcon) {
                Item->setData(CoverRole, A.CoverHash);
                if (const QIcon Icon = FCoverIcon(A.CoverHash); !Icon.isNull())
                    Item->setIcon(Icon);
            }
        }
    }
    Choose(FAlbumList, Album);
    FFilling = WasFilling;
}

void TLibraryBrowser::CoverReady(const QByteArray &Hash) {
    if (!FCoverIcon)
        return;
    for (int At = 0; At < FAlbumList->count(); ++At)
        if (QListWidgetItem *Item = FAlbumList->item(At); Item->data(CoverRole) == Hash)
            if (const QIcon Icon = FCoverIcon(Hash); !Icon.isNull())
                Item->setIcon(Icon);
}
