#pragma once

#include "LibraryListing.h"

#include <QWidget>

#include <functional>
#include <memory>

class QListWidget;
class QListWidgetItem;

// The library page's browse panel: the artists, and the albums of the artist chosen (all
// albums while none is), each list starting with an entry for all of them.
class TLibraryBrowser : public QWidget {
    Q_OBJECT
public:
    explicit TLibraryBrowser(QWidget *Parent = nullptr);

    // The picture an album shows for its cover's hash (a null icon while there is none yet).
    using TCoverIcon = std::function<QIcon(const QByteArray &Hash)>;
    void SetCoverIcon(TCoverIcon Icon) { FCoverIcon = std::move(Icon); }
    // Lists Index's artists and albums that hold a hit, keeping the chosen ones while listed.
    void Fill(std::shared_ptr<const TAlbumIndex> Index, const TSearchHits &Hits);
    // Sets the icons of the listed albums whose cover is Hash anew (its picture came).
    void CoverReady(const QByteArray &Hash);
    // The artist and album chosen, into the index's lists; -1 for all.
    int Artist() const;
    int Album() const;

Q_SIGNALS:
    // Another artist or album was chosen.
    void ChoiceChanged();
    // An album was double-clicked or Enter pressed on it.
    void AlbumActivated();

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void FillAlbums();

    QListWidget *FArtistList = nullptr;
    QListWidget *FAlbumList = nullptr;
    std::shared_ptr<const TAlbumIndex> FIndex;
    TSearchHits FHits;
    TCoverIcon FCoverIcon;
    bool FFilling = false;
};
