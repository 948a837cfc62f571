#pragma once
// Who may talk to the desk. Bound to the loopback address the desk answers the
// machine itself without a token; bound beyond it every request and every
// WebSocket upgrade carries the token. Browsers are held to the desk's own page:
// a request that names another origin, or (on loopback) a host name that is not
// a loopback name (DNS rebinding), is refused whatever it asks.
#include "remote/HttpMessage.h"

#include <optional>

// Compares two tokens in time that depends on neither's content nor on the length
// of the expected one (both are hashed first).
bool TokensEqual(const QByteArray& given, const QByteArray& expected);

// The token a request carries: "Authorization: Bearer …", "X-Tavoria-Token: …" or
// the query item "token" (browsers cannot set headers on a WebSocket).
QByteArray RequestToken(const HttpRequest& request);

// Whether a Host header names this machine by a loopback name: "localhost",
// "127.x.y.z" or "[::1]", with or without a port.
bool IsLoopbackHostHeader(const QByteArray& host);

struct AccessPolicy {
    QByteArray token;         // empty: no token configured
    bool loopbackOnly = true; // the server listens on a loopback address only
    bool TokenRequired() const { return !token.isEmpty() || !loopbackOnly; }
};

// The refusal for a request, or nothing when it may go on.
std::optional<HttpReply> CheckAccess(const HttpRequest& request, const AccessPolicy& policy);
