#pragma once
#include <windows.h>

// The six functions the dock host exports from its executable. Each is looked
// up by name at every call, so a host that lacks one simply has the call
// skipped. They may be called from any thread between OnCreate and OnDestroy.
namespace HostServices {

// The host copies the text before returning.
void SetLabel(HWND item, const char* text);
// A GDI+ image object the caller then owns, or null when the host has no
// loader or cannot load the file.
void* LoadImage(const char* path);
// autoDelete FALSE: the host never deletes the image; TRUE: it deletes it when replaced.
void SetImage(HWND item, void* image, BOOL autoDelete);
void DoAttentionAnimation(HWND item);
// Each fills folder[260], terminated; empty when the host does not supply it.
void GetRootFolder(HWND item, char* folder);
void GetRelativeFolder(HWND item, char* folder);

}  // namespace HostServices
