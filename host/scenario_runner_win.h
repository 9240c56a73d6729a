#pragma once
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
    void WaitLabel(const Step& step);
    bool Save(const Step& step);

    DockletModule docklet_;
};
