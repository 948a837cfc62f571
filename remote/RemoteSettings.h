#pragma once
// The settings of the remote control, kept in the section "REMOTO" of config.ini.
#include "remote/RemoteServer.h"

#include <QString>

class TIniDocument;

struct RemoteSettings {
    bool enabled = false;
    int port = 9020;
    QString bind = QStringLiteral("127.0.0.1");
    QString token;

    bool operator==(const RemoteSettings&) const = default;
};

// Reads the section; absent or unreadable keys take their defaults, a port
// outside 1-65535 gives 9020.
RemoteSettings LoadRemoteSettings(const TIniDocument& ini);
// Writes the section; when it is absent and the settings are the defaults the
// document is left as it is.
void SaveRemoteSettings(TIniDocument& ini, const RemoteSettings& settings);

// A random token of 32 letters and digits from the system's secure source.
QString GenerateRemoteToken();

// The server configuration for the settings; false with a Spanish message when
// the address is not an address of this machine's form ("127.0.0.1", "0.0.0.0",
// "::1", "localhost", ...) or, beyond loopback, the token is missing or shorter
// than kMinNetworkTokenLength.
bool RemoteServerConfigFor(const RemoteSettings& settings, RemoteServerConfig& config,
                           QString* error);
