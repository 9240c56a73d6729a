#pragma once
#include <windows.h>

#include <string>

// The docklet DLL and its five entry points. Every call is journaled as
// "call" and "return" with its duration; an entry point the DLL lacks is
// journaled as "missing-entry" and skipped.
class DockletModule {
  public:
    bool Load(const std::string& path, std::string* error);
    void Unload();
    bool loaded() const { return module_ != nullptr; }

    void GetInformation();
    void* Create(int item, HWND window, char* ini, char* iniGroup);
    void Destroy(int item, void* data, HWND window);
    void Click(int item, void* data);
    void Hold(int item, void* data);

  private:
    typedef void(__stdcall* InformationFunction)(char*, char*, int*, char*);
    typedef void*(__stdcall* CreateFunction)(HWND, HINSTANCE, char*, char*);
    typedef void(__stdcall* DestroyFunction)(void*, HWND);
    typedef BOOL(__stdcall* ButtonFunction)(void*, POINT*, SIZE*);

    void Button(const char* name, ButtonFunction function, int item, void* data);

    HMODULE module_ = nullptr;
    InformationFunction information_ = nullptr;
    CreateFunction create_ = nullptr;
    DestroyFunction destroy_ = nullptr;
    ButtonFunction click_ = nullptr;
    ButtonFunction hold_ = nullptr;
};
