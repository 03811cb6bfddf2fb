#pragma once

#include <QPixmap>
#include <QWidget>

class QLabel;

// The current track over a player's list: its cover, its caption and its album. Tags are text
// from outside: they show as plain text, cut at the bar's width rather than widening the window.
class TNowPlayingBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int CoverSize = 48;

    explicit TNowPlayingBar(QWidget *Parent = nullptr);

    // An empty caption hides the bar; a null cover leaves its place empty.
    void Show(const QString &Caption, const QString &Album, const QPixmap &Cover);

    QString Caption() const;
    QString Album() const;
    bool HasCover() const;

private:
    QLabel *FCover = nullptr;
    QLabel *FCaption = nullptr;
    QLabel *FAlbum = nullptr;
};
