#pragma once

#include <QPoint>
#include <QWidget>

// A small frameless note (information icon, bold title, text) whose stem points at a
// screen point; it closes itself after its time or when clicked.
class QPainterPath;

class TBalloonTip : public QWidget {
    Q_OBJECT
public:
    TBalloonTip(const QString &Text, const QString &Title, const QPoint &Target, int Milliseconds);

    QString Text() const { return FText; }
    QString Title() const { return FTitle; }
    // Screen point the stem's tip touches.
    QPoint StemTip() const { return pos() + FStemTip; }

protected:
    void paintEvent(QPaintEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;

private:
    void Place(const QPoint &Target);
    QPainterPath Outline() const;

    QString FText;
    QString FTitle;
    QPoint FStemTip; // in widget coordinates
    bool FStemUp = true;
};

// Shows a balloon pointing at screen point (X, Y) for Seconds seconds, replacing any
// earlier one; an empty Title shows "Vellox Player". Returns at once.
void ShowBalloonTip(const QString &Text, int X, int Y, int Seconds, const QString &Title);
// The balloon on screen now, or null.
TBalloonTip *CurrentBalloonTip();
