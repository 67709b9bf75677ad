#pragma once

#include "publish/HttpRequest.h"

#include <QString>

class ConnectionState;

// The small, stateless helpers under every web exchange of the program: a synchronous GET on a
// caller-owned HttpRequest, the percent- and Base64 encoders, and the public-address discovery.
namespace modXMLHTTP {

// Opens a GET to the URL on the caller's request object. No header is added.
void OpenGet(HttpRequest &request, const QString &url);

// Sends the opened request without a body and returns the answer's body as text. The whole
// exchange is bounded by the request's time limit (10 s by default). Failures (name lookup,
// connection, certificate, time-out, an oversized answer) throw HttpError; an HTTP error status
// is not a failure here: its body is returned and request.status() tells it.
QString SendAndWait(HttpRequest &request);

// Percent-encodes every character, letters and digits included: the low byte of each 16-bit
// character code as "%" and two upper-case hexadecimal digits ("ab" gives "%61%62").
QString URLEncode(const QString &text);

// The character's code in the single-byte character set (ISO-8859-1; a character outside it
// counts as "?", 63); 0 for an empty text. Only the first character is looked at.
int AscOrZero(const QString &character);

// Standard Base64 (RFC 4648, "=" padding) of the text's single-byte codes (see AscOrZero).
QString Base64Encode(const QString &text);

// The first run of digits and dots ("[0-9\.]+") in the text, or an empty text.
QString firstAddressRun(const QString &text);

// The machine's public IPv4 address as the echo page reports it: the first run of digits and
// dots in its answer (markup included). Asks the connection state first: offline gives "" with
// no traffic. Never fails: every error gives "". When connectionName is given it receives the
// connection's name from the query.
QString GetPublicIP(const QString &echoPageUrl, const ConnectionState &connection, const HttpOptions &options = {},
    QString *connectionName = nullptr);

} // namespace modXMLHTTP
