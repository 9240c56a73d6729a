#pragma once
#include <string>

#include "docklet/docklet_instance.h"
#include "temp_folder_win.h"

// An instance as a check worker sees it, with the debug log on in a
// temporary folder, a stop event and a short time-out.
struct CheckBed {
    CheckBed();
    ~CheckBed();
    CheckBed(const CheckBed&) = delete;
    CheckBed& operator=(const CheckBed&) = delete;

    // Adds an account for 127.0.0.1 at port; the reference lasts until the next one is added.
    MailAccount& AddAccount(int32_t type, int port, const char* login = "me", const char* password = "secret");
    std::string Log() const { return folder.Read("Debug.log"); }
    // The marks of the accounts added with countNew set, read from and written
    // to the folder's TidewellDocklet.seen, as an item started now has them.
    void StartSeenBoard();
    // After a check: a click (which must move a mark), the marks written, and
    // a new item started.
    void EndSeenStep(bool click, bool restart);

    TempFolder folder;
    DockletInstance instance;
};

// How a connection-level line reaches Debug.log: indented by four, and
// written in text mode, so every LF of the text (a reply's own) lands as CR LF.
std::string ConnectionLogLine(const std::string& text);
