#include "secrets/password_write_back_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "docklet/bounded_file_win.h"
#include "docklet/replace_file_win.h"
#include "log/debug_log.h"
#include "log/windows_error_text_win.h"
#include "secrets/ini_value_edit.h"
#include "secrets/protected_password_win.h"
#include "text/bounded_text.h"

namespace {

// Far beyond any INI file of this docklet: a larger one is left as it is.
const DWORD kMaxIniSize = 1024 * 1024;

struct FileBytes {
    char* bytes; // owned, or null
    size_t length;
};

void LogError(const DockletInstance* instance, const char* what, DWORD error) {
    if (!instance->debug)
        return;
    char meaning[128];
    WindowsErrorText(error, meaning, sizeof meaning);
    WriteDebugLog(instance, "  Error: passwords not protected: %s %s: %s (error %lu)", what,
                  instance->iniPath, meaning, static_cast<unsigned long>(error));
}

bool ReadWhole(const DockletInstance* instance, FileBytes* file) {
    DWORD error;
    switch (ReadBoundedFile(instance->iniPath, kMaxIniSize, &file->bytes, &file->length, &error)) {
    case kBoundedFileRead:
        return true;
    case kBoundedFileTooLarge:
        LogError(instance, "too large to rewrite,", error);
        return false;
    case kBoundedFileNoMemory:
        LogError(instance, "no memory to rewrite", error);
        return false;
    case kBoundedFileNotFound:
    case kBoundedFileUnreadable:
        LogError(instance, "cannot read", error);
        return false;
    }
    return false;
}

// Protects the account's password into the file's bytes; true when it changed them.
bool ProtectOne(const DockletInstance* instance, int index, const MailAccount* account,
                FileBytes* file) {
    char value[kProtectedPasswordSize + sizeof kProtectedPrefix];
    DWORD error;
    if (!ProtectPassword(account, account->password, value, sizeof value, &error)) {
        LogError(instance, "CryptProtectData failed for", error);
        return false;
    }
    char section[32];
    FormatText(section, sizeof section, "account%d", index);
    size_t capacity = file->length + strlen(value);
    char* edited = static_cast<char*>(malloc(capacity + 1));
    size_t length = 0;
    IniEdit outcome = edited ? ReplaceIniValue(file->bytes, file->length, section, "Password",
                                               account->password, value, edited, capacity, &length)
                             : kIniNoRoom;
    if (outcome != kIniValueReplaced) {
        free(edited);
        if (instance->debug)
            WriteDebugLog(instance, "  Account %d: Password left as it is: %s", index,
                          outcome == kIniValueChanged ? "changed in the file since the start"
                                                      : "not found in the file");
        return false;
    }
    free(file->bytes);
    file->bytes = edited;
    file->length = length;
    return true;
}

// Writes the bytes beside the INI file, then moves them over it.
bool Replace(const DockletInstance* instance, const FileBytes* file, DWORD attributes) {
    const FilePiece piece = {file->bytes, file->length};
    DWORD error = 0;
    switch (ReplaceFileWhole(instance->iniPath, &piece, 1, attributes, &error)) {
    case kReplaced:
        return true;
    case kNoTemporary:
        LogError(instance, "cannot write beside", error);
        return false;
    case kNotReplaced:
        break;
    }
    LogError(instance, "cannot write", error);
    return false;
}

} // namespace

void ProtectPasswordsInFile(const DockletInstance* instance) {
    bool plain = false;
    for (int i = 0; i < instance->accountCount; ++i)
        plain = plain || (instance->accounts[i].password[0] != '\0' &&
                          instance->accounts[i].protectedPassword[0] == '\0');
    if (!plain || instance->iniPath[0] == '\0')
        return;
    // A file the user made read-only is not theirs to have rewritten.
    DWORD attributes = GetFileAttributesA(instance->iniPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        LogError(instance, "read-only", ERROR_ACCESS_DENIED);
        return;
    }
    FileBytes file = {nullptr, 0};
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        LogError(instance, "cannot find", GetLastError());
    } else if (ReadWhole(instance, &file)) {
        int changed = 0;
        for (int i = 0; i < instance->accountCount; ++i) {
            const MailAccount* account = &instance->accounts[i];
            if (account->password[0] != '\0' && account->protectedPassword[0] == '\0')
                changed += ProtectOne(instance, i, account, &file) ? 1 : 0;
        }
        if (changed > 0 && Replace(instance, &file, attributes) && instance->debug)
            WriteDebugLog(instance, "  Passwords protected in %s: %d", instance->iniPath, changed);
    }
    free(file.bytes);
}
