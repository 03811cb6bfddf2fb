#include "AutoRun.h"

#include "AsciiText.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <stdexcept>

namespace {

// Escapes for a .desktop string value.
QByteArray DesktopValue(const QString &Value) {
    QByteArray Out;
    for (char C : Value.toUtf8()) {
        switch (C) {
        case '\\':
            Out += "\\\\";
            break;
        case '\n':
            Out += "\\n";
            break;
        case '\r':
            Out += "\\r";
            break;
        case '\t':
            Out += "\\t";
            break;
        default:
            Out += C;
        }
    }
    return Out;
}

// One quoted argument of a .desktop Exec line.
QString ExecArgument(const QString &Arg) {
    QString Out = QStringLiteral("\"");
    for (QChar C : Arg) {
        if (C == u'"' || C == u'`' || C == u'$' || C == u'\\')
            Out += u'\\';
        if (C == u'%')
            Out += u'%';
        Out += C;
    }
    return Out + u'"';
}

} // namespace

void CreateShortcut(const QString &Target, const QString &Arguments, const QString &LinkFile,
                    const QString &Description) {
    if (AsciiUpper(FileExtension(LinkFile.toUtf8())) != ".DESKTOP")
        throw std::runtime_error("Ext need .desktop");
    QString Exec = ExecArgument(Target);
    if (!Arguments.isEmpty())
        Exec += u' ' + Arguments;
    const QByteArray Text = "[Desktop Entry]\nType=Application\nName=" + DesktopValue(Description) +
                            "\nExec=" + DesktopValue(Exec) +
                            // Desktops skip the entry once the program has been removed.
                            "\nTryExec=" + DesktopValue(Target) +
                            "\nPath=" + DesktopValue(QFileInfo(Target).absolutePath()) +
                            "\nX-GNOME-Autostart-enabled=true\n";
    QSaveFile File(LinkFile);
    if (File.open(QIODevice::WriteOnly)) {
        File.write(Text);
        File.commit(); // a failure shows as IsAutoRun() staying false
    }
}

QString AutoRunFileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + ExecutableBaseName() + QStringLiteral(".desktop");
}

bool SetAutoRun(bool Enable) {
    const QString Link = AutoRunFileName();
    if (Enable) {
        QDir().mkpath(QFileInfo(Link).absolutePath());
        CreateShortcut(QCoreApplication::applicationFilePath(), QString(), Link,
                       QStringLiteral("Vellox Player"));
    } else {
        QFile::remove(Link);
    }
    return true;
}

bool IsAutoRun() {
    return QFileInfo::exists(AutoRunFileName());
}
