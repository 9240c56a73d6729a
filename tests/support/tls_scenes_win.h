#pragma once
// The scripted TLS servers of the ctest fixture "tls_servers"
// (tls_script_server.py): one port per scene, the test CA and certificates
// they serve, and what clients sent them. A test that uses a scene should be
// its only user, as tests run side by side.
#include <string>

namespace tls_scenes {

// The port of a scene on 127.0.0.1; 0 (and a test failure) when the fixture is not running.
int Port(const std::string& scene);

// The Windows path of a file of the fixture's certificates folder ("ca.pem", "ca.der", ...).
std::string CertificatePath(const std::string& name);

// A server certificate's SHA-256 as openssl shows it ("AB:CD:..."), from the
// fixture's NAME.sha256 ("server", "expired", ...).
std::string Fingerprint(const std::string& certificate);

// The number of connections to the scene that have ended so far.
int EndedConnections(const std::string& scene);

// What the client of the scene's connection number `index` (from 0) sent,
// waiting up to five seconds for it to end; "<not ended>" when it did not.
std::string Sent(const std::string& scene, int index);

}  // namespace tls_scenes
