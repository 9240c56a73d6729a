#include "config/built_in_clients.h"

#include "config/oauth_settings.h"

// Defined by the build's options (cmake/built_in_clients.cmake) where it has
// them; any other compile carries none.
#ifndef TIDEWELL_MICROSOFT_CLIENT_ID
#define TIDEWELL_MICROSOFT_CLIENT_ID ""
#endif
#ifndef TIDEWELL_GOOGLE_CLIENT_ID
#define TIDEWELL_GOOGLE_CLIENT_ID ""
#endif
#ifndef TIDEWELL_GOOGLE_CLIENT_SECRET
#define TIDEWELL_GOOGLE_CLIENT_SECRET ""
#endif

BuiltInClient BuiltInClientOf(int32_t provider) {
    switch (provider) {
    case kProviderMicrosoft:
        return BuiltInClient{TIDEWELL_MICROSOFT_CLIENT_ID, ""};
    case kProviderGoogle:
        return BuiltInClient{TIDEWELL_GOOGLE_CLIENT_ID, TIDEWELL_GOOGLE_CLIENT_SECRET};
    default:
        return BuiltInClient{"", ""};
    }
}

bool CarriesBuiltInClients() {
    return BuiltInClientOf(kProviderMicrosoft).id[0] != '\0' || BuiltInClientOf(kProviderGoogle).id[0] != '\0';
}
