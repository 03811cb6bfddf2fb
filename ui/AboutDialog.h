#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

// A label that looks and acts like a web link: blue and underlined, red under the
// mouse, a click opens its target with the desktop's handler.
class THyperlinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit THyperlinkLabel(QWidget *Parent = nullptr);

    void SetTarget(const QString &Target) { FTarget = Target; }
    QString Target() const { return FTarget; }

protected:
    void enterEvent(QEnterEvent *Event) override;
    void leaveEvent(QEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;

private:
    void SetHot(bool Hot);
    QString FTarget;
};

// The about box: emblem, product name with version, link to the web site.
class TAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit TAboutDialog(QWidget *Parent = nullptr);

    QLabel *FEmblem = nullptr;
    QLabel *FProductLabel = nullptr;
    THyperlinkLabel *FWebSiteLink = nullptr;
    QPushButton *FOKButton = nullptr;

private:
    void FillTexts();
};
