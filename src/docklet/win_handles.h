#pragma once
// The Win32 handle types the instance record holds, declared exactly as
// <windows.h> declares them, so that portable code can share the record
// without including the Windows headers.

struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef void* HANDLE;
