#include "remote/RemoteSettings.h"

#include "media/TIniDocument.h"

#include <QRandomGenerator>

namespace {
const QString kSection = QStringLiteral("REMOTO");
}

RemoteSettings LoadRemoteSettings(const TIniDocument& ini) {
    RemoteSettings s;
    s.enabled = ini.ReadBool(kSection, QStringLiteral("Enabled"), s.enabled);
    const int port = ini.ReadInteger(kSection, QStringLiteral("Port"), s.port);
    s.port = port >= 1 && port <= 65535 ? port : RemoteSettings().port;
    s.bind = ini.ReadString(kSection, QStringLiteral("Bind"), s.bind).trimmed();
    if (s.bind.isEmpty())
        s.bind = RemoteSettings().bind;
    s.token = ini.ReadString(kSection, QStringLiteral("Token"), s.token);
    return s;
}

QString GenerateRemoteToken() {
    static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    const int n = int(sizeof(alphabet)) - 1;
    QString token;
    for (int i = 0; i < 32; ++i)
        token += QLatin1Char(alphabet[QRandomGenerator::system()->bounded(n)]);
    return token;
}

void SaveRemoteSettings(TIniDocument& ini, const RemoteSettings& s) {
    // A desk that never used the remote control keeps its config.ini as it was.
    if (!ini.SectionExists(kSection) && s == RemoteSettings())
        return;
    ini.WriteBool(kSection, QStringLiteral("Enabled"), s.enabled);
    ini.WriteInteger(kSection, QStringLiteral("Port"), s.port);
    ini.WriteString(kSection, QStringLiteral("Bind"), s.bind);
    ini.WriteString(kSection, QStringLiteral("Token"), s.token);
    // A file that holds the token is for the desk's user alone.
    if (!s.token.isEmpty())
        ini.SetOwnerOnly();
}

bool RemoteServerConfigFor(const RemoteSettings& s, RemoteServerConfig& config, QString* error) {
    QHostAddress address;
    const QString bind = s.bind.trimmed();
    if (bind.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(bind)) {
        if (error)
            *error = QStringLiteral("La dirección del control remoto '%1' no es válida").arg(bind);
        return false;
    }
    if (s.port < 0 || s.port > 65535) {
        if (error)
            *error = QStringLiteral("El puerto del control remoto %1 no es válido").arg(s.port);
        return false;
    }
    const QByteArray token = s.token.trimmed().toUtf8();
    if (!address.isLoopback() && token.isEmpty()) {
        if (error)
            *error = QStringLiteral("Para escuchar fuera de 127.0.0.1 el control remoto necesita "
                                    "un token");
        return false;
    }
    if (!address.isLoopback() && s.token.trimmed().size() < kMinNetworkTokenLength) {
        if (error)
            *error = QStringLiteral("Para escuchar fuera de 127.0.0.1 el token del control remoto "
                                    "debe tener al menos %1 caracteres (pulse \"Generar\")")
                         .arg(kMinNetworkTokenLength);
        return false;
    }
    config.bind = address;
    config.port = quint16(s.port);
    config.token = token;
    return true;
}
