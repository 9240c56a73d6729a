#include "docklet_module_win.h"

#include <cstdio>

#include "host_context_win.h"
#include "journal_text.h"
#include "journal_win.h"
#include "launch_watch_win.h"
#include "sound_watch_win.h"
#include "system_events_win.h"

namespace {

const int kInformationSize = 1024;

template <typename Function>
Function Entry(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Journals "call" now and "return" with the duration when it goes out of scope.
class EntryCall {
  public:
    EntryCall(int item, const char* name) : item_(item), name_(name), start_(JournalClock()) {
        SetEntryItem(item);
        JournalEvent(ItemColumn(item_), "call", name_);
    }
    ~EntryCall() {
        char duration[32];
        snprintf(duration, sizeof duration, " %.1fms", JournalClock() - start_);
        JournalEvent(ItemColumn(item_), "return", name_ + duration + result_);
        SetEntryItem(0);
    }
    void SetResult(const std::string& result) { result_ = " -> " + result; }

  private:
    int item_;
    std::string name_;
    double start_;
    std::string result_;
};

bool Present(const void* function, int item, const char* name) {
    if (!function)
        JournalEvent(ItemColumn(item), "missing-entry", name);
    return function != nullptr;
}

}  // namespace

bool DockletModule::Load(const std::string& path, std::string* error) {
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        *error = "cannot load the docklet " + path + ", error " + std::to_string(GetLastError());
        return false;
    }
    information_ = Entry<InformationFunction>(module_, "OnGetInformation");
    create_ = Entry<CreateFunction>(module_, "OnCreate");
    destroy_ = Entry<DestroyFunction>(module_, "OnDestroy");
    click_ = Entry<ButtonFunction>(module_, "OnLeftButtonClick");
    hold_ = Entry<ButtonFunction>(module_, "OnLeftButtonHeld");
    JournalEvent("-", "load", QuoteJournalText(path));
    if (!WatchLaunches(module_))
        JournalEvent("-", "launch-watch", "the docklet imports no CreateProcessA");
    if (!WatchSounds(module_))
        JournalEvent("-", "sound-watch", "the docklet imports no PlaySoundA");
    if (!StandInForAddressChanges(module_))
        JournalEvent("-", "address-watch", "the docklet imports no NotifyAddrChange");
    return true;
}

void DockletModule::Unload() {
    if (!module_)
        return;
    FreeLibrary(module_);
    module_ = nullptr;
    JournalEvent("-", "unload", "");
}

void DockletModule::GetInformation() {
    if (!Present(reinterpret_cast<void*>(information_), 0, "OnGetInformation"))
        return;
    char name[kInformationSize] = "";
    char author[kInformationSize] = "";
    char notes[kInformationSize] = "";
    int version = 0;
    {
        EntryCall call(0, "OnGetInformation");
        information_(name, author, &version, notes);
    }
    // The docklet may have filled a buffer to the brim.
    name[kInformationSize - 1] = author[kInformationSize - 1] = notes[kInformationSize - 1] = '\0';
    JournalEvent("-", "info",
                 "name=" + QuoteJournalText(name) + " author=" + QuoteJournalText(author) +
                     " version=" + std::to_string(version) + " notes=" + QuoteJournalText(notes));
}

void* DockletModule::Create(int item, HWND window, char* ini, char* iniGroup) {
    if (!Present(reinterpret_cast<void*>(create_), item, "OnCreate"))
        return nullptr;
    EntryCall call(item, "OnCreate");
    void* data = create_(window, module_, ini, iniGroup);
    char result[32];
    snprintf(result, sizeof result, "0x%08lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)));
    call.SetResult(result);
    return data;
}

void DockletModule::Destroy(int item, void* data, HWND window) {
    if (!Present(reinterpret_cast<void*>(destroy_), item, "OnDestroy"))
        return;
    EntryCall call(item, "OnDestroy");
    destroy_(data, window);
}

void DockletModule::Click(int item, void* data) {
    BeginLaunchWatch();
    Button("OnLeftButtonClick", click_, item, data);
    JournalEvent(ItemColumn(item), "launch-handles", LaunchHandlesState());
}

void DockletModule::Hold(int item, void* data) { Button("OnLeftButtonHeld", hold_, item, data); }

void DockletModule::Button(const char* name, ButtonFunction function, int item, void* data) {
    if (!Present(reinterpret_cast<void*>(function), item, name))
        return;
    // A click in the middle of a 48-pixel item, as the dock host reports one.
    POINT cursor = {24, 24};
    SIZE size = {48, 48};
    EntryCall call(item, name);
    call.SetResult(std::to_string(function(data, &cursor, &size)));
}
