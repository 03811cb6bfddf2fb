#include "BalloonTip.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>

namespace {

constexpr int StemHeight = 12;
constexpr int StemWidth = 16;
constexpr int StemOffset = 24; // stem tip from the balloon's left edge, when room allows
constexpr int Radius = 6;
constexpr int Margin = 10;

QPointer<TBalloonTip> Current;

} // namespace

TBalloonTip::TBalloonTip(const QString &Text, const QString &Title, const QPoint &Target,
                         int Milliseconds)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FText(Text), FTitle(Title) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setObjectName(QStringLiteral("BalloonTip"));
    setForegroundRole(QPalette::ToolTipText);

    auto *Icon = new QLabel(this);
    Icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16));
    auto *TitleLabel = new QLabel(Title, this);
    QFont Bold = TitleLabel->font();
    Bold.setBold(true);
    TitleLabel->setFont(Bold);
    auto *TextLabel = new QLabel(Text, this);
    TextLabel->setWordWrap(true);
    TextLabel->setMaximumWidth(320);
    for (QLabel *Label : {TitleLabel, TextLabel}) {
        Label->setTextFormat(Qt::PlainText);
        Label->setForegroundRole(QPalette::ToolTipText);
    }
    auto *Layout = new QGridLayout(this);
    Layout->setHorizontalSpacing(6);
    Layout->addWidget(Icon, 0, 0);
    Layout->addWidget(TitleLabel, 0, 1);
    Layout->addWidget(TextLabel, 1, 1);

    Place(Target);
    QTimer::singleShot(Milliseconds, this, &QWidget::close);
}

void TBalloonTip::Place(const QPoint &Target) {
    QScreen *Screen = QGuiApplication::screenAt(Target);
    if (!Screen)
        Screen = QGuiApplication::primaryScreen();
    const QRect Area = Screen ? Screen->availableGeometry() : QRect(Target, QSize(1, 1));

    layout()->setContentsMargins(Margin, Margin + StemHeight, Margin, Margin);
    adjustSize();
    // Below the point with the stem up, unless that runs off the screen (a tray at
    // the bottom): then above it with the stem down.
    FStemUp = Target.y() + height() <= Area.bottom() + 1 || Target.y() - height() < Area.top();
    if (!FStemUp)
        layout()->setContentsMargins(Margin, Margin, Margin, Margin + StemHeight);

    int X = Target.x() - StemOffset;
    X = std::max(Area.left(), std::min(X, Area.right() + 1 - width()));
    const int Y = FStemUp ? Target.y() : Target.y() - height();
    move(X, Y);
    FStemTip = QPoint(Target.x() - X, FStemUp ? 0 : height());
    setMask(QRegion(Outline().toFillPolygon().toPolygon()));
}

QPainterPath TBalloonTip::Outline() const {
    const QRectF Body = FStemUp ? QRectF(0, StemHeight, width(), height() - StemHeight)
                                : QRectF(0, 0, width(), height() - StemHeight);
    QPainterPath Path;
    Path.addRoundedRect(Body.adjusted(0.5, 0.5, -0.5, -0.5), Radius, Radius);
    // The stem's base stays on the straight part of the edge.
    const qreal Base = std::clamp<qreal>(FStemTip.x(), Radius, width() - Radius - StemWidth);
    const qreal Edge = FStemUp ? Body.top() + 1 : Body.bottom() - 1;
    QPainterPath Stem;
    Stem.moveTo(Base, Edge);
    Stem.lineTo(FStemTip);
    Stem.lineTo(Base + StemWidth, Edge);
    Stem.closeSubpath();
    return Path.united(Stem);
}

void TBalloonTip::paintEvent(QPaintEvent *) {
    QPainter Painter(this);
    Painter.setRenderHint(QPainter::Antialiasing);
    Painter.setBrush(palette().toolTipBase());
    Painter.setPen(QPen(palette().toolTipText(), 1));
    Painter.drawPath(Outline());
}

void TBalloonTip::mousePressEvent(QMouseEvent *) {
    close();
}

void ShowBalloonTip(const QString &Text, int X, int Y, int Seconds, const QString &Title) {
    if (Current)
        Current->close();
    const int Milliseconds = std::max(Seconds, 0) * 1000 + 20;
    Current = new TBalloonTip(Text, Title.isEmpty() ? QStringLiteral("Vellox Player") : Title,
                              QPoint(X, Y), Milliseconds);
    Current->show();
}

TBalloonTip *CurrentBalloonTip() {
    return Current;
}
