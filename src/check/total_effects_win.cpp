#include "check/total_effects_win.h"

#include <windows.h>

#include <mmsystem.h>

#include "animation/status_animator_win.h"
#include "docklet/abandonable_call_win.h"
#include "log/debug_log.h"
#include "log/windows_error_text_win.h"
#include "text/bounded_text.h"

namespace {

// A file on a share that no longer answers can take a look-up far longer
// than the check worker should wait; the call then carries on alone.
const DWORD kSoundWaitMs = 250;

// What the sound's call works on: its own copy, as it may be abandoned.
struct SoundCall {
    int32_t sound;
    char path[kPathSize];
    bool found;   // kSoundFile: the file is there
    BOOL started; // PlaySoundA's answer
    DWORD error;  // GetLastError after it
};

// Runs where it can be abandoned: no debug log, nothing of the item.
void StartSound(void* data) {
    SoundCall* call = static_cast<SoundCall*>(data);
    // winmm plays on a thread of its own after this returns; pinned, it
    // cannot be unloaded from under that thread with this module.
    HMODULE winmm = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "winmm.dll", &winmm);
    if (call->sound == kSoundDefault) {
        call->started = PlaySoundA("MailBeep", nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT);
    } else {
        DWORD attributes = GetFileAttributesA(call->path);
        call->found =
            attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        call->error = GetLastError();
        if (!call->found)
            return;
        call->started = PlaySoundA(call->path, nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
    }
    call->error = GetLastError();
}

void PlaySoundOfRise(const DockletInstance* instance) {
    SoundCall call = {};
    call.sound = instance->sound;
    CopyText(call.path, sizeof call.path,
             instance->sound == kSoundDefault ? "MailBeep" : instance->soundPath);
    // One look-up at a time per file: a file that hangs holds one thread,
    // however many rises follow.
    CallOutcome outcome = CallOnceUnlessStopped(call.path, StartSound, &call, sizeof call,
                                                instance->stopEvent, kSoundWaitMs);
    if (!instance->debug || outcome == kCallStopped)
        return;
    if (outcome == kCallTimedOut || outcome == kCallStillOutstanding) {
        WriteDebugLog(instance, "  Sound: %s did not answer within %lu ms: not waited for",
                      call.path, static_cast<unsigned long>(kSoundWaitMs));
    } else if (outcome == kCallNotStarted) {
        WriteDebugLog(instance, "  Sound: no thread to play %s", call.path);
    } else if (call.sound == kSoundFile && !call.found) {
        char meaning[256];
        WindowsErrorText(call.error, meaning, sizeof meaning);
        WriteDebugLog(instance, "  Sound: %s cannot be found (Windows error %lu: %s): not played",
                      call.path, call.error, meaning);
    } else if (!call.started) {
        WriteDebugLog(instance, "  Sound: Windows played nothing for %s", call.path);
    }
}

} // namespace

void OnTotalShown(DockletInstance* instance, int32_t total, int32_t heard) {
    if (instance->badge && instance->animator)
        instance->animator->ShowTotal(total);
    long before = InterlockedExchange(&instance->lastHeardTotal, heard);
    if (instance->sound != kSoundNone && heard > before)
        PlaySoundOfRise(instance);
}
