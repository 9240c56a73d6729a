#include "sound_watch_win.h"

#include <cstdio>
#include <string>

#include "import_patch_win.h"
#include "journal_text.h"
#include "journal_win.h"

namespace {

typedef BOOL(WINAPI* PlaySoundFunction)(LPCSTR, HMODULE, DWORD);

PlaySoundFunction g_playSound;

// Sounds are started on threads of the docklet that belong to no item.
BOOL WINAPI WatchedPlaySoundA(LPCSTR sound, HMODULE module, DWORD flags) {
    char flagText[16];
    snprintf(flagText, sizeof flagText, "%#lx", static_cast<unsigned long>(flags));
    BOOL started = g_playSound(sound, module, flags);
    DWORD lastError = GetLastError();
    JournalEvent("-", "PlaySoundA",
                 (sound ? QuoteJournalText(sound) : std::string("null")) + " flags=" + flagText +
                     " started=" + std::to_string(started));
    SetLastError(lastError);
    return started;
}

}  // namespace

bool WatchSounds(HMODULE docklet) {
    void* original = nullptr;
    if (!PatchImport(docklet, "winmm.dll", "PlaySoundA", reinterpret_cast<void*>(WatchedPlaySoundA), &original))
        return false;
    g_playSound = reinterpret_cast<PlaySoundFunction>(original);
    return true;
}
