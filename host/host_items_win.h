#pragma once
#include <windows.h>

#include <functional>
#include <string>

// One dock item as the host sees it. Fields other than number and window are
// read and written under StateLock.
struct HostItem {
    int number = 0;
    HWND window = nullptr;
    std::string rootFolder;
    std::string relativeFolder;
    void* data = nullptr;  // what OnCreate returned
    bool destroyed = false;  // OnDestroy has returned
    std::string label;
    std::string previousLabel;  // the label before the last change
    void* image = nullptr;  // the current picture, an image object
    bool imageAutoDelete = false;
    std::string imageShape;  // size, and the strip its frames come from, as --print tells it
    std::string imageStrip;  // the file name of the strip the picture is a frame of, or ""
};

// Registers the window class and makes the host's own hidden window.
bool InitialiseHostWindows(std::string* error);

// A new item with its own hidden window. Windows are kept until the process
// ends, so an item's handle is never given to another.
HostItem* AddItem(int number, const std::string& rootFolder, const std::string& relativeFolder);
HostItem* FindItem(int number);
// Under StateLock; null for a window that is no item's.
HostItem* FindItemByWindow(HWND window);

// Runs host work on the main thread, as a GUI host would update its item, by
// SendMessage to the item's window (or the host's own for an unknown one); at
// once when called there or with --direct.
void RunOnMainThread(HWND item, const std::function<void()>& work);

// Every item, in number order (main thread only).
void ForEachItem(const std::function<void(HostItem&)>& visit);
