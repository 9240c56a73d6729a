// The module's five exports, called by the dock host on its own thread.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "animation/status_animator_win.h"

#include "config/read_configuration_win.h"
#include "docklet/docklet_instance.h"
#include "docklet/host_services_win.h"
#include "check/seen_board_win.h"
#include "check/check_workers_win.h"
#include "check/idle_watcher_win.h"
#include "check/shown_total_win.h"
#include "check/system_wake_win.h"
#include "net/tls_credentials_win.h"
#include "log/debug_log.h"
#include "signin/sign_in_board_win.h"
#include "signin/sign_in_win.h"
#include "log/windows_error_text_win.h"
#include "text/bounded_text.h"

static const char kInitialLabel[] = "Aucun message";

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

void __stdcall OnGetInformation(char* name, char* author, int* version, char* notes) {
    static const char kName[] = "Tidewell Docklet";
    static const char kAuthor[] = "The Tidewell developers";
    static const char kNotes[] = "IMAP mail chercker docklet for ObjectDock";
    memcpy(name, kName, sizeof kName);
    memcpy(author, kAuthor, sizeof kAuthor);
    *version = TIDEWELL_VERSION_NUMBER;
    memcpy(notes, kNotes, sizeof kNotes);
}

void* __stdcall OnCreate(HWND item, HINSTANCE module, char* /*ini*/, char* /*iniGroup*/) {
    DockletInstance* instance = static_cast<DockletInstance*>(calloc(1, sizeof(DockletInstance)));
    if (!instance)
        return nullptr;
    instance->itemWindow = item;
    instance->moduleInstance = module;
    instance->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    instance->animator = new (std::nothrow) StatusAnimator(item, module);

    HostServices::SetLabel(item, kInitialLabel);

    char rootFolder[kPathSize];
    char relativeFolder[kPathSize];
    HostServices::GetRootFolder(item, rootFolder);
    HostServices::GetRelativeFolder(item, relativeFolder);

    ReadConfigurationFile(instance, rootFolder, relativeFolder);
    instance->signIn = MakeSignInBoard(instance);
    NoteProviderMisfits(instance);
    instance->shownTotal = MakeShownTotal(instance->accountCount);
    instance->seen = MakeSeenBoard(instance);

    if (instance->animator) {
        char noMailPath[kPathSize];
        char newMailPath[kPathSize];
        FormFolderPath(noMailPath, sizeof noMailPath, rootFolder, relativeFolder, "NoMail.png");
        FormFolderPath(newMailPath, sizeof newMailPath, rootFolder, relativeFolder, "NewMail.png");
        instance->animator->Load(noMailPath, newMailPath, instance->badge);
    }
    WatchSystemWake(instance);
    StartPeriodicWorker(instance);
    return instance;
}

void __stdcall OnDestroy(void* data, HWND /*item*/) {
    DockletInstance* instance = static_cast<DockletInstance*>(data);
    if (!instance)
        return;
    UnwatchSystemWake(instance);
    StopPeriodicWorker(instance);
    StopOneShotWorkers(instance);
    StopSignInWorker(instance);
    FreeSignInBoard(instance->signIn);
    FreeIdleWatchers(instance);
    FreeShownTotal(instance->shownTotal);
    FreeSeenBoard(instance->seen);
    ReleaseItemTlsCredentials(instance);
    free(instance->accounts);
    delete instance->animator;
    if (instance->stopEvent)
        CloseHandle(instance->stopEvent);
    free(instance);
}

BOOL __stdcall OnLeftButtonClick(void* data, POINT* /*cursor*/, SIZE* /*size*/) {
    DockletInstance* instance = static_cast<DockletInstance*>(data);
    if (!instance)
        return TRUE;
    HostServices::DoAttentionAnimation(instance->itemWindow);
    if (StartSignInWorker(instance))
        return TRUE;
    // What the last checks saw is now seen; a worker writes that down and
    // shows the count that follows, so nothing here waits on a file or a server.
    if (MarkAllSeen(instance->seen))
        StartOneShotWorker(instance);

    // CreateProcessA may write into its command line, so it gets a copy.
    char commandLine[kPathSize];
    CopyText(commandLine, sizeof commandLine, instance->link);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        // Nothing waits for the program; holding its handles would only leak them.
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else if (instance->link[0] != '\0' && instance->debug) {
        DWORD error = GetLastError();
        char meaning[256];
        WindowsErrorText(error, meaning, sizeof meaning);
        WriteDebugLog(instance, "Link cannot be started (Windows error %lu: %s): %s", error, meaning, instance->link);
    }
    return TRUE;
}

BOOL __stdcall OnLeftButtonHeld(void* data, POINT* /*cursor*/, SIZE* /*size*/) {
    if (DockletInstance* instance = static_cast<DockletInstance*>(data))
        StartHeldCheckWorker(instance);
    return TRUE;
}

}  // extern "C"
