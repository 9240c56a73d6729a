#pragma once
#include <string>
#include <vector>

// The test program itself exports the host functions the check cycle calls,
// so that the docklet's parts find a host and every call can be read back.
namespace RecordingHost {

void Reset();
std::vector<std::string> Labels();
int Attentions();

}  // namespace RecordingHost
