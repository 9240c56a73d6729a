#include "scenario_runner_win.h"

#include <cstdio>

#include "host_context_win.h"
#include "host_items_win.h"
#include "image_objects_win.h"
#include "journal_text.h"
#include "journal_win.h"
#include "message_pump_win.h"
#include "picture_file_win.h"
#include "process_stats_win.h"
#include "system_events_win.h"

namespace {

const char kDockletFileName[] = "TidewellDocklet.dll";

void ReportFailure(const Step& step, const std::string& message) {
    fprintf(stderr, "tidewell-host: %s: %s\n", step.where.c_str(), message.c_str());
    fflush(stderr);
}

// What the dock host passes to OnCreate: its own settings file and the
// item's section in it, both writable buffers.
std::string HostIniPath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string ini(path, length);
    size_t slash = ini.find_last_of("\\/");
    return ini.substr(0, slash == std::string::npos ? 0 : slash + 1) + "tidewell-host.ini";
}

}  // namespace

bool ScenarioRunner::Run(const std::vector<Step>& steps) {
    bool allSucceeded = true;
    for (const Step& step : steps) {
        if (step.kind == StepKind::kQuit)
            break;
        if (StopRequested()) {
            JournalEvent("-", "stop-requested", "before " + step.where);
            break;
        }
        if (!RunStep(step)) {
            allSucceeded = false;
            if (!docklet_.loaded())
                break;
        }
    }
    return allSucceeded;
}

bool ScenarioRunner::RunStep(const Step& step) {
    HostItem* item = step.item > 0 ? FindItem(step.item) : nullptr;
    switch (step.kind) {
    case StepKind::kCreate:
        return Create(step);
    case StepKind::kWait:
        PumpMessagesFor(step.ms);
        return true;
    case StepKind::kWaitLabel:
        WaitFor(step, "waitlabel", QuoteJournalText(step.text),
                [&](const HostItem& waited) { return waited.label == step.text; });
        return true;
    case StepKind::kWaitChange: {
        // Passing over the check's own label, a change of count is a label
        // other than the one shown before the check.
        std::string before;
        {
            StateLock lock;
            before = item->label != step.text ? item->label : item->previousLabel;
        }
        WaitFor(step, "waitchange", QuoteJournalText(step.text) + " from " + QuoteJournalText(before),
                [&](const HostItem& waited) {
                    return waited.label != step.text && waited.label != before;
                });
        return true;
    }
    case StepKind::kWaitFrame:
        WaitFor(step, "waitframe", QuoteJournalText(step.file),
                [&](const HostItem& waited) { return waited.imageStrip == step.file; });
        return true;
    case StepKind::kClick:
        docklet_.Click(item->number, item->data);
        return true;
    case StepKind::kHold:
        docklet_.Hold(item->number, item->data);
        return true;
    case StepKind::kDestroy:
        Destroy(*item);
        return true;
    case StepKind::kInfo:
        if (!EnsureLoaded(Options().dllPath)) {
            ReportFailure(step, "the docklet cannot be loaded");
            return false;
        }
        docklet_.GetInformation();
        return true;
    case StepKind::kSave:
        return Save(step);
    case StepKind::kStats:
        JournalEvent("-", "stats", ProcessStats() + " frames=" + std::to_string(FrameCount()));
        return true;
    case StepKind::kPower:
        for (const PowerEvent& event : kPowerEvents) {
            if (step.text == event.name)
                JournalEvent("-", "power",
                             step.text + " windows=" + std::to_string(BroadcastPower(event.code)));
        }
        return true;
    case StepKind::kAddressChange:
        JournalEvent("-", "addresschange", DeliverAddressChange() ? "delivered" : "none-waiting");
        return true;
    case StepKind::kQuit:
        return true;
    }
    return true;
}

bool ScenarioRunner::EnsureLoaded(const std::string& path) {
    if (docklet_.loaded())
        return true;
    std::string error;
    if (docklet_.Load(path, &error))
        return true;
    JournalEvent("-", "load-failed", QuoteJournalText(path));
    fprintf(stderr, "tidewell-host: %s\n", error.c_str());
    return false;
}

bool ScenarioRunner::Create(const Step& step) {
    std::string dll = Options().dllPath.empty() ? step.root + step.relative + kDockletFileName
                                                : Options().dllPath;
    if (!EnsureLoaded(dll)) {
        ReportFailure(step, "the docklet cannot be loaded");
        return false;
    }
    HostItem* item = AddItem(step.item, step.root, step.relative);
    if (!item) {
        ReportFailure(step, "cannot create the item window, error " + std::to_string(GetLastError()));
        return false;
    }
    std::string ini = HostIniPath();
    std::string group = "Item" + std::to_string(step.item);
    bool nullIni = Options().nullIni;
    void* data = docklet_.Create(step.item, item->window, nullIni ? nullptr : &ini[0],
                                 nullIni ? nullptr : &group[0]);
    StateLock lock;
    item->data = data;
    return true;
}

void ScenarioRunner::Destroy(HostItem& item) {
    docklet_.Destroy(item.number, item.data, item.window);
    StateLock lock;
    item.destroyed = true;
    // A picture the docklet keeps (autoDelete FALSE) may be gone with the
    // item; one the host owns is released with it.
    if (item.image && item.imageAutoDelete)
        DeleteImageObject(item.image);
    item.image = nullptr;
}

void ScenarioRunner::WaitFor(const Step& step, const char* event, const std::string& details,
                             const std::function<bool(const HostItem&)>& reached) {
    const HostItem* item = FindItem(step.item);
    bool held = PumpMessagesUntil(
        [&] {
            StateLock lock;
            return reached(*item);
        },
        step.ms);
    StateLock lock;
    const char* ending = held ? " reached" : StopRequested() ? " stopped" : " timeout";
    JournalEvent(ItemColumn(step.item), event,
                 details + ending + " label=" + QuoteJournalText(item->label));
}

bool ScenarioRunner::Save(const Step& step) {
    HostItem* item = FindItem(step.item);
    std::string outcome;
    bool saved;
    {
        StateLock lock;
        saved = SavePicture(step.file, item->image, item->label, step.side, &outcome);
    }
    JournalEvent(ItemColumn(step.item), "save",
                 QuoteJournalText(step.file) + (saved ? " " : " failed: ") + outcome);
    if (!saved)
        ReportFailure(step, "cannot save the picture: " + outcome);
    return saved;
}

void ScenarioRunner::Quit() {
    ForEachItem([this](HostItem& item) {
        if (!item.destroyed)
            Destroy(item);
    });
    docklet_.Unload();
}
