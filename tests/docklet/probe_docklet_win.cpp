// A docklet that does what the host must notice, to prove the host's checks:
// hold hands the host a picture to own; click releases a host image the way
// a careless GCC-built docklet would, through its virtual destructor; with
// LateLabel=1 in [probe] of its TidewellDocklet.ini, a thread sets the label
// after OnDestroy has returned.
#include <windows.h>

#include <gdiplus.h>

#include <cstdlib>
#include <string>

namespace {

const DWORD kLateDelayMs = 200;

struct Probe {
    HWND item;
    std::string folder;
    bool lateLabel;
};

template <typename Function>
Function HostFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name)));
}

void SetLabel(HWND item, const char* text) {
    typedef void(__stdcall * SetLabelFunction)(HWND, char*);
    if (SetLabelFunction set = HostFunction<SetLabelFunction>("DockletSetLabel"))
        set(item, const_cast<char*>(text));
}

std::string Folder(HWND item, const char* function) {
    typedef void(__stdcall * GetFolderFunction)(HWND, char*);
    char folder[MAX_PATH] = "";
    if (GetFolderFunction get = HostFunction<GetFolderFunction>(function))
        get(item, folder);
    return folder;
}

void* LoadProbePicture(const Probe* probe) {
    typedef void*(__stdcall * LoadFunction)(char*);
    LoadFunction load = HostFunction<LoadFunction>("DockletLoadGDIPlusImage");
    std::string path = probe->folder + "probe.png";
    return load ? load(&path[0]) : nullptr;
}

DWORD WINAPI SetLabelLate(void* parameter) {
    HWND item = static_cast<HWND>(parameter);
    Sleep(kLateDelayMs);
    SetLabel(item, "late");
    // OnDestroy took a reference to this module for the thread, so that the
    // host cannot unload it meanwhile; it is given back only as the thread ends.
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&SetLabelLate), &self);
    FreeLibraryAndExitThread(self, 0);
}

}  // namespace

extern "C" {

void* __stdcall OnCreate(HWND item, HINSTANCE, char*, char*) {
    Probe* probe = new Probe;
    probe->item = item;
    SetLabel(item, "probe");
    probe->folder = Folder(item, "DockletGetRootFolder") + Folder(item, "DockletGetRelativeFolder");
    probe->lateLabel =
        GetPrivateProfileIntA("probe", "LateLabel", 0,
                              (probe->folder + "TidewellDocklet.ini").c_str()) == 1;
    return probe;
}

void __stdcall OnDestroy(void* data, HWND) {
    Probe* probe = static_cast<Probe*>(data);
    if (probe->lateLabel) {
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&SetLabelLate), &self);
        CloseHandle(CreateThread(nullptr, 0, SetLabelLate, probe->item, 0, nullptr));
    }
    delete probe;
}

BOOL __stdcall OnLeftButtonClick(void* data, POINT*, SIZE*) {
    delete static_cast<Gdiplus::Bitmap*>(LoadProbePicture(static_cast<Probe*>(data)));
    return TRUE;
}

BOOL __stdcall OnLeftButtonHeld(void* data, POINT*, SIZE*) {
    Probe* probe = static_cast<Probe*>(data);
    typedef void(__stdcall * SetImageFunction)(HWND, void*, BOOL);
    if (SetImageFunction set = HostFunction<SetImageFunction>("DockletSetImage"))
        set(probe->item, LoadProbePicture(probe), TRUE);
    return TRUE;
}

}  // extern "C"
