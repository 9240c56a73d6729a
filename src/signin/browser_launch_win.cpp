#include "signin/browser_launch_win.h"

#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "docklet/abandonable_call_win.h"
#include "log/debug_log.h"
#include "log/windows_error_text_win.h"
#include "text/bounded_text.h"

namespace {

struct BrowserCall {
    char command[kSignInUrlSize + kOAuthTextSize];  // OAuthBrowser's command line, or empty
    char url[kSignInUrlSize];
    DWORD error;  // 0 when the program started
};

// Runs on a thread of its own: the shell may load handlers that take their time.
void Launch(void* data) {
    BrowserCall* call = static_cast<BrowserCall*>(data);
    call->error = 0;
    if (call->command[0] != '\0') {
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessA(nullptr, call->command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            call->error = GetLastError();
            return;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return;
    }
    // Shell handlers may be COM objects, which want the thread initialised.
    HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    HINSTANCE result = ShellExecuteA(nullptr, "open", call->url, nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) <= 32)
        call->error = GetLastError() ? GetLastError() : static_cast<DWORD>(reinterpret_cast<INT_PTR>(result));
    if (SUCCEEDED(initialised))
        CoUninitialize();
}

// OAuthBrowser with url in place of each %s, or after it when it has none;
// false when the result would not fit.
bool FormBrowserCommand(char* command, size_t size, const char* browser, const char* url) {
    command[0] = '\0';
    const char* placeholder = strstr(browser, "%s");
    if (!placeholder)
        return FormatText(command, size, "%s %s", browser, url);
    size_t length = 0;
    for (const char* p = browser; *p != '\0';) {
        const bool isPlaceholder = p[0] == '%' && p[1] == 's';
        const char* piece = isPlaceholder ? url : p;
        const size_t pieceLength = isPlaceholder ? strlen(url) : 1;
        if (length + pieceLength + 1 > size)
            return false;
        memcpy(command + length, piece, pieceLength);
        length += pieceLength;
        p += isPlaceholder ? 2 : 1;
    }
    command[length] = '\0';
    return true;
}

}  // namespace

void OpenInBrowser(const DockletInstance* instance, int32_t index, const char* url, DWORD timeoutMs) {
    const char* browser = instance->accounts[index].oauth.browser;
    BrowserCall* call = static_cast<BrowserCall*>(calloc(1, sizeof(BrowserCall)));
    if (!call)
        return;
    CopyText(call->url, sizeof call->url, url);
    if (browser[0] != '\0' && !FormBrowserCommand(call->command, sizeof call->command, browser, url)) {
        if (instance->debug)
            WriteDebugLog(instance, "Sign-in account %d: OAuthBrowser with the address is too long to run", index);
        free(call);
        return;
    }
    CallOutcome outcome = CallUnlessStopped(Launch, call, sizeof(BrowserCall), instance->stopEvent, timeoutMs);
    if (instance->debug) {
        const char* how = browser[0] != '\0' ? "OAuthBrowser" : "the default browser";
        if (outcome == kCallDone && call->error == 0) {
            WriteDebugLog(instance, "Sign-in account %d: page handed to %s", index, how);
        } else if (outcome == kCallDone) {
            char meaning[256];
            WindowsErrorText(call->error, meaning, sizeof meaning);
            WriteDebugLog(instance, "Sign-in account %d: %s cannot be started (Windows error %lu: %s): open the address above yourself",
                          index, how, call->error, meaning);
        } else if (outcome != kCallStopped) {
            WriteDebugLog(instance, "Sign-in account %d: %s did not start in time: open the address above yourself",
                          index, how);
        }
    }
    free(call);
}
