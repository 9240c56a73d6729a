#include "docklet/host_services_win.h"

#include "docklet/docklet_instance.h"

namespace {

typedef void(__stdcall* SetLabelFunction)(HWND, char*);
typedef void*(__stdcall* LoadImageFunction)(char*);
typedef void(__stdcall* SetImageFunction)(HWND, void*, BOOL);
typedef void(__stdcall* AttentionFunction)(HWND);
typedef void(__stdcall* GetFolderFunction)(HWND, char*);

// Not cached: the host's exports are asked afresh at every call.
template <typename Function>
Function Find(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name)));
}

void GetFolder(const char* name, HWND item, char* folder) {
    folder[0] = '\0';
    if (GetFolderFunction get = Find<GetFolderFunction>(name))
        get(item, folder);
    folder[kPathSize - 1] = '\0';
}

}  // namespace

namespace HostServices {

void SetLabel(HWND item, const char* text) {
    if (SetLabelFunction set = Find<SetLabelFunction>("DockletSetLabel"))
        set(item, const_cast<char*>(text));
}

void* LoadImage(const char* path) {
    if (LoadImageFunction load = Find<LoadImageFunction>("DockletLoadGDIPlusImage"))
        return load(const_cast<char*>(path));
    return nullptr;
}

void SetImage(HWND item, void* image, BOOL autoDelete) {
    if (SetImageFunction set = Find<SetImageFunction>("DockletSetImage"))
        set(item, image, autoDelete);
}

void DoAttentionAnimation(HWND item) {
    if (AttentionFunction attention = Find<AttentionFunction>("DockletDoAttentionAnimation"))
        attention(item);
}

void GetRootFolder(HWND item, char* folder) { GetFolder("DockletGetRootFolder", item, folder); }

void GetRelativeFolder(HWND item, char* folder) {
    GetFolder("DockletGetRelativeFolder", item, folder);
}

}  // namespace HostServices
