#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>

class TMprisService;

// org.mpris.MediaPlayer2 on the service's object: who the player is, Raise and Quit.
class TMprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit CONSTANT)
    Q_PROPERTY(bool CanRaise READ CanRaise CONSTANT)
    Q_PROPERTY(bool HasTrackList READ HasTrackList CONSTANT)
    Q_PROPERTY(QString Identity READ Identity CONSTANT)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry CONSTANT)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes CONSTANT)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes CONSTANT)
public:
    // Exported on Service's object path; Service owns it.
    explicit TMprisRootAdaptor(TMprisService *Service);

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    // The name desktops show, and the menu entry the icon comes from.
    QString Identity() const { return QStringLiteral("Vellox Player"); }
    QString DesktopEntry() const { return QStringLiteral("vxPlayer"); }
    // None: tracks come from the library and from controllers, OpenUri is refused.
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public Q_SLOTS:
    void Raise();
    void Quit();

private:
    TMprisService *FService;
};
