#include "signin/token_store_win.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <cstring>

#include "docklet/bounded_file_win.h"
#include "docklet/replace_file_win.h"
#include "log/windows_error_text_win.h"
#include "signin/token_limits.h"
#include "text/bounded_text.h"
#include "text/secret_wipe.h"

namespace {

// A whole file: head, binding and DPAPI's sealed bytes, which add a few
// hundred bytes to the binding and the token they hold.
const DWORD kMaxTokenFileSize = 4 * (kTokenBindingSize + kMaxTokenSize) + 4096;

struct Binding {
    char text[kTokenBindingSize];
    DATA_BLOB blob;
};

bool Bind(Binding* binding, const TokenBinding* parts) {
    size_t length = FormTokenBinding(parts, binding->text, sizeof binding->text);
    binding->blob.pbData = reinterpret_cast<BYTE*>(binding->text);
    binding->blob.cbData = static_cast<DWORD>(length);
    return length > 0;
}

// The file of account N in the folder of the INI file; false when that
// folder is not known or the path does not fit.
bool TokenPath(const DockletInstance* instance, int accountIndex, char* path, size_t size) {
    char name[64];
    FormatText(name, sizeof name, "TidewellDocklet.account%d.token", accountIndex);
    return FormSiblingPath(path, size, instance->iniPath, name);
}

void WindowsReason(char* why, size_t whySize, const char* what, DWORD error) {
    char meaning[128];
    WindowsErrorText(error, meaning, sizeof meaning);
    FormatText(why, whySize, "%s: %s (error %lu)", what, meaning, static_cast<unsigned long>(error));
}

// Writes head and sealed bytes to a new file beside path, then puts it in
// path's place, so that a reader sees the old file or the new one, never a part.
bool WriteAtomically(const char* path, const char* head, DWORD headLength,
                     const DATA_BLOB* sealed, char* why, size_t whySize) {
    const FilePiece pieces[] = {{head, headLength}, {sealed->pbData, sealed->cbData}};
    DWORD error = 0;
    switch (ReplaceFileWhole(path, pieces, 2, FILE_ATTRIBUTE_NORMAL, &error)) {
    case kReplaced:
        return true;
    case kNoTemporary:
        WindowsReason(why, whySize, "the token file cannot be written in the docklet folder", error);
        return false;
    case kNotReplaced:
        break;
    }
    WindowsReason(why, whySize, "the token file cannot be written", error);
    return false;
}

} // namespace

TokenLoad LoadRefreshToken(const DockletInstance* instance, int accountIndex, const TokenBinding* binding,
                           char* token, size_t size, char* why, size_t whySize) {
    if (size > 0)
        token[0] = '\0';
    why[0] = '\0';
    char path[kPathSize];
    Binding bound;
    if (!TokenPath(instance, accountIndex, path, sizeof path)) {
        CopyText(why, whySize, "the token file cannot be named: the docklet folder is not known");
        return kTokenUnreadable;
    }
    if (!Bind(&bound, binding)) {
        CopyText(why, whySize, "the account's Address, Login, client and endpoints are too long to bind a token to");
        return kTokenUnreadable;
    }
    char* bytes = nullptr;
    size_t length = 0;
    DWORD error = 0;
    BoundedFileRead read = ReadBoundedFile(path, kMaxTokenFileSize, &bytes, &length, &error);
    if (read == kBoundedFileNotFound)
        return kTokenNone;
    TokenLoad outcome = kTokenUnreadable;
    size_t sealedAt = 0;
    TokenFileHead head = read == kBoundedFileRead
                             ? ReadTokenFileHead(bytes, length, bound.text, bound.blob.cbData, &sealedAt)
                             : kTokenHeadNotOurs;
    if (read == kBoundedFileTooLarge) {
        FormatText(why, whySize, "the token file %s is larger than %lu bytes", path,
                   static_cast<unsigned long>(kMaxTokenFileSize));
    } else if (read != kBoundedFileRead) {
        WindowsReason(why, whySize, "the token file cannot be read", error);
    } else if (head == kTokenHeadNotOurs) {
        FormatText(why, whySize, "%s is not a token file of this docklet", path);
    } else if (head == kTokenHeadOtherBinding) {
        outcome = kTokenOtherBinding;
        CopyText(why, whySize, "the token file was kept for another Address, Login, client or endpoints");
    } else {
        DATA_BLOB sealed = {static_cast<DWORD>(length - sealedAt), reinterpret_cast<BYTE*>(bytes + sealedAt)};
        DATA_BLOB plain = {0, nullptr};
        if (!CryptUnprotectData(&sealed, nullptr, &bound.blob, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                                &plain)) {
            WindowsReason(why, whySize,
                          "Windows refuses to unprotect the token file (it holds only for the Windows user who "
                          "signed in, and only unchanged)",
                          GetLastError());
        } else if (!ReadSealedToken(reinterpret_cast<char*>(plain.pbData), plain.cbData, bound.text,
                                    bound.blob.cbData, token, size)) {
            CopyText(why, whySize, "the token file was tampered with: what it seals is not what its head says");
        } else {
            outcome = kTokenLoaded;
        }
        if (plain.pbData) {
            SecureZeroMemory(plain.pbData, plain.cbData);
            LocalFree(plain.pbData);
        }
    }
    free(bytes);
    return outcome;
}

bool SaveRefreshToken(const DockletInstance* instance, int accountIndex, const TokenBinding* binding,
                      const char* token, char* why, size_t whySize) {
    why[0] = '\0';
    char path[kPathSize];
    Binding bound;
    const size_t tokenLength = strlen(token);
    if (!TokenPath(instance, accountIndex, path, sizeof path)) {
        CopyText(why, whySize, "the token file cannot be named: the docklet folder is not known");
        return false;
    }
    if (!Bind(&bound, binding)) {
        CopyText(why, whySize, "the account's Address, Login, client and endpoints are too long to bind a token to");
        return false;
    }
    if (!IsKeepableToken(token, tokenLength)) {
        FormatText(why, whySize, "a refresh token must be 1 to %u printable characters without spaces",
                   static_cast<unsigned>(kMaxTokenSize - 1));
        return false;
    }
    const size_t plainLength = bound.blob.cbData + tokenLength;
    char* plainText = static_cast<char*>(malloc(plainLength));
    if (!plainText) {
        CopyText(why, whySize, "no memory to seal the token");
        return false;
    }
    memcpy(plainText, bound.text, bound.blob.cbData);
    memcpy(plainText + bound.blob.cbData, token, tokenLength);
    DATA_BLOB plain = {static_cast<DWORD>(plainLength), reinterpret_cast<BYTE*>(plainText)};
    DATA_BLOB sealed = {0, nullptr};
    bool saved = CryptProtectData(&plain, nullptr, &bound.blob, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed);
    if (!saved)
        WindowsReason(why, whySize, "Windows refuses to protect the token", GetLastError());
    WipeSecret(plainText, plainLength);
    free(plainText);
    if (saved) {
        char head[sizeof bound.text + 64];
        const size_t headLength = FormTokenFileHead(bound.text, bound.blob.cbData, head, sizeof head);
        saved = WriteAtomically(path, head, static_cast<DWORD>(headLength), &sealed, why, whySize);
        LocalFree(sealed.pbData);
    }
    return saved;
}

bool ForgetRefreshToken(const DockletInstance* instance, int accountIndex, char* why, size_t whySize) {
    why[0] = '\0';
    char path[kPathSize];
    if (!TokenPath(instance, accountIndex, path, sizeof path)) {
        CopyText(why, whySize, "the token file cannot be named: the docklet folder is not known");
        return false;
    }
    if (DeleteFileA(path))
        return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;
    WindowsReason(why, whySize, "the token file cannot be deleted", error);
    return false;
}
