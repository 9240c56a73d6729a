#pragma once
#include <functional>
#include <string>
#include <vector>

#include "docklet_module_win.h"
#include "host_items_win.h"
#include "scenario.h"

// Runs checked steps on the main thread against the docklet.
class ScenarioRunner {
  public:
    // false when a step failed; a docklet that cannot be loaded stops the run.
    bool Run(const std::vector<Step>& steps);
    // Destroys every live item, releases the pictures the host owns and
    // unloads the docklet: the end of every scenario.
    void Quit();

  private:
    bool RunStep(const Step& step);
    bool Create(const Step& step);
    bool EnsureLoaded(const std::string& path);
    void Destroy(HostItem& item);
    // Pumps until reached() holds under StateLock, then journals the step's
    // details and how the wait ended, with the label it ended on.
    void WaitFor(const Step& step, const char* event, const std::string& details,
                 const std::function<bool(const HostItem&)>& reached);
    bool Save(const Step& step);

    DockletModule docklet_;
};
