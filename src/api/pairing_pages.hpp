#pragma once
// The pairing pages: the confirmation page with a one-time nonce, and its confirmation that
// stores the origin.
#include <string>

#include "http/http_types.hpp"

namespace connector {

class ConnectorService;
class PairingRegistry;

// The page frame of every pairing reply: HTML, not cached, never shown inside a frame.
HttpResponse htmlPage(int status, const std::string& innerHtml);

// GET /pair?origin=...
HttpResponse pairingPageResponse(PairingRegistry& registry, const HttpRequest& request);
// POST /pair with the form field nonce.
HttpResponse pairingConfirmResponse(PairingRegistry& registry, ConnectorService& service,
                                    const HttpRequest& request);

}  // namespace connector
