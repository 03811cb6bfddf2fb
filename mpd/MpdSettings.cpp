#include "MpdSettings.h"

#include "AsciiText.h"
#include "IniFile.h"

#include <QFile>

namespace {

constexpr TIniKey EnabledKey{"Mpd", "Enabled"};
constexpr TIniKey PortKey{"Mpd", "Port"};
constexpr TIniKey PasswordKey{"Mpd", "Password"};

} // namespace

TMpdSettings LoadMpdSettings(const QString &IniFile) {
    TMpdSettings Settings;
    QFile In(IniFile);
    if (!In.open(QIODevice::ReadOnly))
        return Settings;
    const QByteArrayList Ini = SplitLines(In.readAll());
    Settings.Enabled = IniInteger(Ini, EnabledKey, 1) != 0;
    const qint32 Port = IniInteger(Ini, PortKey, Settings.Port);
    if (Port <= 0 || Port > 65535)
        Settings.Enabled = false;
    else
        Settings.Port = quint16(Port);
    Settings.Password = TrimBlanks(IniValue(Ini, PasswordKey).value_or(QByteArray()));
    return Settings;
}
