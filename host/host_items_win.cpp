#include "host_items_win.h"

#include <map>
#include <memory>

#include "host_context_win.h"

namespace {

const char kWindowClass[] = "TidewellHostItem";
const UINT kRunWorkMessage = WM_APP + 1;

std::map<int, std::unique_ptr<HostItem>> g_items;
HWND g_hostWindow;

LRESULT CALLBACK HostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunWorkMessage) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Message-only: a hidden window that Wine can make with no display at all,
// and that still takes the messages a worker's host calls are sent as.
HWND MakeHiddenWindow(const std::string& title) {
    return CreateWindowExA(0, kWindowClass, title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

// A thread learns the parent of message-only windows from the desktop once,
// on its first use. A process that starts
// while the desktop is still being made can learn no parent and then fails
// every window; setting the thread's desktop again makes it ask anew.
HWND MakeFirstWindow(const std::string& title) {
    const int kAttempts = 50;
    const DWORD kPauseMs = 100;
    HWND window = MakeHiddenWindow(title);
    for (int attempt = 1; !window && attempt < kAttempts; ++attempt) {
        Sleep(kPauseMs);
        SetThreadDesktop(GetThreadDesktop(GetCurrentThreadId()));
        window = MakeHiddenWindow(title);
    }
    return window;
}

}  // namespace

bool InitialiseHostWindows(std::string* error) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassA(&windowClass)) {
        *error = "cannot register the item window class, error " + std::to_string(GetLastError());
        return false;
    }
    g_hostWindow = MakeFirstWindow("tidewell-host");
    if (!g_hostWindow) {
        *error = "cannot create the host window, error " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

HostItem* AddItem(int number, const std::string& rootFolder, const std::string& relativeFolder) {
    std::unique_ptr<HostItem> item(new HostItem);
    item->number = number;
    item->window = MakeHiddenWindow("item " + std::to_string(number));
    item->rootFolder = rootFolder;
    item->relativeFolder = relativeFolder;
    if (!item->window)
        return nullptr;
    StateLock lock;
    HostItem* added = item.get();
    g_items[number] = std::move(item);
    return added;
}

HostItem* FindItem(int number) {
    StateLock lock;
    auto found = g_items.find(number);
    return found == g_items.end() ? nullptr : found->second.get();
}

HostItem* FindItemByWindow(HWND window) {
    for (auto& entry : g_items) {
        if (entry.second->window == window)
            return entry.second.get();
    }
    return nullptr;
}

void RunOnMainThread(HWND item, const std::function<void()>& work) {
    if (Options().direct || OnMainThread()) {
        work();
        return;
    }
    HWND target = g_hostWindow;
    {
        StateLock lock;
        if (FindItemByWindow(item))
            target = item;
    }
    SendMessageA(target, kRunWorkMessage, 0, reinterpret_cast<LPARAM>(&work));
}

void ForEachItem(const std::function<void(HostItem&)>& visit) {
    for (auto& entry : g_items)
        visit(*entry.second);
}
