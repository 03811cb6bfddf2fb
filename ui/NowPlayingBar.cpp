#include "NowPlayingBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel *TextLabel(QWidget *Parent, const char *Name) {
    auto *Label = new QLabel(Parent);
    Label->setObjectName(QLatin1String(Name));
    Label->setTextFormat(Qt::PlainText);
    Label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return Label;
}

} // namespace

TNowPlayingBar::TNowPlayingBar(QWidget *Parent) : QWidget(Parent) {
    FCover = new QLabel(this);
    FCover->setObjectName(QStringLiteral("FCover"));
    FCover->setTextFormat(Qt::PlainText); // a picture only, beside the text that names it
    FCover->setFixedSize(CoverSize, CoverSize);
    FCaption = TextLabel(this, "FCaption");
    QFont Bold = FCaption->font();
    Bold.setBold(true);
    FCaption->setFont(Bold);
    FAlbum = TextLabel(this, "FAlbum");
    auto *Texts = new QVBoxLayout;
    Texts->setSpacing(2);
    Texts->addStretch();
    Texts->addWidget(FCaption);
    Texts->addWidget(FAlbum);
    Texts->addStretch();
    auto *Layout = new QHBoxLayout(this);
    Layout->setContentsMargins(6, 4, 6, 4);
    Layout->addWidget(FCover);
    Layout->addLayout(Texts, 1);
    hide();
}

void TNowPlayingBar::Show(const QString &Caption, const QString &Album, const QPixmap &Cover) {
    FCaption->setText(Caption);
    FCaption->setToolTip(Caption);
    FAlbum->setText(Album);
    FAlbum->setToolTip(Album);
    FAlbum->setVisible(!Album.isEmpty());
    FCover->setPixmap(Cover.isNull() ? QPixmap()
                                     : Cover.scaled(CoverSize, CoverSize, Qt::KeepAspectRatio,
                                                    Qt::SmoothTransformation));
    setVisible(!Caption.isEmpty());
}

QString TNowPlayingBar::Caption() const {
    return FCaption->text();
}

QString TNowPlayingBar::Album() const {
    return FAlbum->text();
}

bool TNowPlayingBar::HasCover() const {
    return !FCover->pixmap().isNull();
}
