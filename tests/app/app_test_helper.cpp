// Helper process for the app tests.
//   activate [HoldMs]  exit 0 when another copy runs; else hold the slot HoldMs, exit 2
//   crash              exit 0 when another copy runs; else exit 3 without releasing
//   writeini File Section/Key Value   exit 0 when written, 1 when not
#include "IniFile.h"
#include "InstanceSlot.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

int main(int argc, char *argv[]) {
    QCoreApplication App(argc, argv);
    const QStringList Args = App.arguments().mid(1);
    const QString Mode = Args.value(0);
    if (Mode == QLatin1String("writeini") && Args.size() == 4) {
        const QByteArrayList Key = Args[2].toUtf8().split('/');
        const QByteArray Section = Key.value(0), Name = Key.value(1);
        const TIniKey IniKey{Section.constData(), Name.constData()};
        return WriteIniValues(Args[1], {{IniKey, Args[3].toInt()}}) ? 0 : 1;
    }
    if (Mode != QLatin1String("activate") && Mode != QLatin1String("crash"))
        return 9;
    OpenInstanceSlot();
    if (ActivatePreviousInstance())
        return 0;
    if (Mode == QLatin1String("crash"))
        _exit(3);
    QTimer::singleShot(Args.value(1).toInt(), &App, &QCoreApplication::quit);
    App.exec();
    CloseInstanceSlot();
    return 2;
}
