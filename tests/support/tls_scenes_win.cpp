#include "tls_scenes_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "linux_files_win.h"

namespace tls_scenes {
namespace {

std::string Folder() { return WindowsFolder(TIDEWELL_TLS_SERVERS_DIR); }

// The connections that ended, each what its client sent.
std::vector<std::string> Ended(const std::string& scene) {
    std::vector<std::string> ended;
    std::string text = ReadWholeFile(Folder() + scene + ".received");
    const std::string end = "-- end\n";
    size_t start = 0;
    for (size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size())
        ended.push_back(text.substr(start, at - start));
    return ended;
}

}  // namespace

int Port(const std::string& scene) {
    std::istringstream ports(ReadWholeFile(Folder() + "ports"));
    std::string name;
    int port;
    while (ports >> name >> port) {
        if (name == scene)
            return port;
    }
    ADD_FAILURE() << "no TLS scene '" << scene << "' in " << Folder()
                  << "ports: does the test require the ctest fixture 'tls_servers'?";
    return 0;
}

std::string CertificatePath(const std::string& name) { return Folder() + "certs\\" + name; }

std::string Fingerprint(const std::string& certificate) {
    std::string text = ReadWholeFile(Folder() + "certs\\" + certificate + ".sha256");
    return text.substr(0, text.find_first_of("\r\n"));
}

int EndedConnections(const std::string& scene) { return static_cast<int>(Ended(scene).size()); }

std::string Sent(const std::string& scene, int index) {
    for (int waited = 0; waited < 100; ++waited) {
        std::vector<std::string> ended = Ended(scene);
        if (static_cast<int>(ended.size()) > index)
            return ended[index];
        Sleep(50);
    }
    return "<not ended>";
}

}  // namespace tls_scenes
