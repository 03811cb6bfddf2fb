#include "AllowAction.h"

#include "AppIcon.h"

TAllowAction::TAllowAction(std::function<bool()> Allowed, QObject *Parent)
    : QAction(Parent), FAllowed(std::move(Allowed)) {
    setObjectName(QStringLiteral("FAllowAction"));
    Update();
}

void TAllowAction::Update() {
    const bool Allowed = FAllowed();
    setText(Allowed ? QStringLiteral("Disallo&w Other People to Play on My Computer")
                    : QStringLiteral("Allo&w Other People to Play on My Computer"));
    // The picture too shows the state the entry switches to.
    setIcon(AllowPicture(!Allowed));
}
