#pragma once
// The black-hole proxy of the ctest fixture "blackhole_proxy"
// (blackhole_proxy.py start): a TCP proxy on 127.0.0.1 whose connections can
// stop forwarding in both directions without either side being closed, as a
// router that forgets a connection does, and forward again. Tests reach it
// through its control port; each route is one test's own. Every function
// throws std::runtime_error when the proxy does not do what was asked.
#include <string>

namespace blackhole {

enum class Scope {
    Everything,     // the path is down: old and new connections are held
    OldConnections, // only the connections open now are forgotten; new ones flow
};

// A port on 127.0.0.1 whose connections go to 127.0.0.1:targetPort.
int Forward(int targetPort);

// Stops forwarding on the route's connections (see Scope); returns how many
// were open.
int Hole(int port, Scope scope = Scope::Everything);

// Everything held flows on, in order, and new connections flow.
void Resume(int port);

// Connections of the route open now, and made in all.
struct Connections {
    int open = 0;
    int total = 0;
};
Connections CountConnections(int port);

} // namespace blackhole
