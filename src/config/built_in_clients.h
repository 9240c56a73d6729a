#pragma once
#include <cstdint>

// The OAuth2 clients a build may carry, at most one per provider, for the
// accounts whose section names no OAuthClientId: whoever ships the docklet
// registers them once with each provider, so that its users need not. The
// values come from the build's options (cmake/built_in_clients.cmake); a
// build without them carries none.
struct BuiltInClient {
    const char* id;      // "" when the build carries none for the provider
    const char* secret;  // "" when none; Google's, for an installed app, is no secret, yet never logged
};

// The client this build carries for provider (an OAuthProvider value).
BuiltInClient BuiltInClientOf(int32_t provider);

// True when the build carries a client for some provider.
bool CarriesBuiltInClients();
