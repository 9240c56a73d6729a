#include "blackhole_proxy_win.h"

#include <sstream>
#include <stdexcept>

#include "line_connection_win.h"
#include "linux_files_win.h"

namespace blackhole {
namespace {

int ControlPort() {
    const std::string path = WindowsFolder(TIDEWELL_BLACKHOLE_DIR) + "port";
    int port = 0;
    std::istringstream(ReadWholeFile(path)) >> port;
    if (port <= 0)
        throw std::runtime_error("no black-hole proxy (" + path +
                                 "): does the test require the ctest fixture 'blackhole_proxy'?");
    return port;
}

// The proxy's answer to one command, checked to begin with `expected`; the words after it.
std::istringstream Ask(const std::string& command, const std::string& expected) {
    LineConnection control(ControlPort());
    control.Send(command);
    const std::string answer = control.ReadLine();
    if (answer.compare(0, expected.size() + 1, expected + " ") != 0)
        throw std::runtime_error("black-hole proxy: '" + command + "' answered '" + answer + "'");
    return std::istringstream(answer.substr(expected.size() + 1));
}

} // namespace

int Forward(int targetPort) {
    int port = 0;
    Ask("forward " + std::to_string(targetPort), "port") >> port;
    return port;
}

int Hole(int port, Scope scope) {
    int held = 0;
    Ask("hole " + std::to_string(port) + (scope == Scope::OldConnections ? " existing" : ""),
        "held") >>
        held;
    return held;
}

void Resume(int port) {
    Ask("resume " + std::to_string(port), "resumed");
}

Connections CountConnections(int port) {
    Connections counted;
    Ask("connections " + std::to_string(port), "connections") >> counted.open >> counted.total;
    return counted;
}

} // namespace blackhole
