#include "secrets/protected_password_win.h"

#include <wincrypt.h>

#include <cstring>

#include "log/debug_log.h"
#include "log/windows_error_text_win.h"
#include "text/base64.h"
#include "text/bounded_text.h"

namespace {

// A line end can stand in no INI value, so the parts cannot run together.
struct Binding {
    char text[2 * kAccountTextSize + 32];
    DATA_BLOB blob;
};

void Bind(Binding* binding, const MailAccount* account) {
    FormatText(binding->text, sizeof binding->text, "Tidewell password\n%s\n%s", account->address,
               account->login);
    binding->blob.pbData = reinterpret_cast<BYTE*>(binding->text);
    binding->blob.cbData = static_cast<DWORD>(strlen(binding->text));
}

// The plain text is gone from memory before the system frees it.
void Wipe(DATA_BLOB* blob) {
    if (!blob->pbData)
        return;
    SecureZeroMemory(blob->pbData, blob->cbData);
    LocalFree(blob->pbData);
    blob->pbData = nullptr;
}

} // namespace

bool ProtectPassword(const MailAccount* account, const char* password, char* text, size_t size,
                     DWORD* error) {
    Binding binding;
    Bind(&binding, account);
    DATA_BLOB plain = {static_cast<DWORD>(strlen(password)),
                       reinterpret_cast<BYTE*>(const_cast<char*>(password))};
    DATA_BLOB sealed = {0, nullptr};
    if (!CryptProtectData(&plain, nullptr, &binding.blob, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &sealed)) {
        *error = GetLastError();
        return false;
    }
    const size_t prefixLength = sizeof kProtectedPrefix - 1;
    bool written =
        size > prefixLength && CopyText(text, size, kProtectedPrefix) &&
        EncodeBase64(sealed.pbData, sealed.cbData, text + prefixLength, size - prefixLength);
    LocalFree(sealed.pbData);
    *error = written ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER;
    return written;
}

bool RevealPassword(const DockletInstance* instance, const MailAccount* account, char* password,
                    size_t size) {
    password[0] = '\0';
    unsigned char bytes[kProtectedPasswordSize];
    size_t length = DecodeBase64(account->protectedPassword, strlen(account->protectedPassword),
                                 bytes, sizeof bytes);
    if (length == 0) {
        if (instance->debug)
            WriteDebugLog(instance, "    Error: the protected Password is no Base64 after %s",
                          kProtectedPrefix);
        return false;
    }
    Binding binding;
    Bind(&binding, account);
    DATA_BLOB sealed = {static_cast<DWORD>(length), bytes};
    DATA_BLOB plain = {0, nullptr};
    if (!CryptUnprotectData(&sealed, nullptr, &binding.blob, nullptr, nullptr,
                            CRYPTPROTECT_UI_FORBIDDEN, &plain)) {
        DWORD error = GetLastError();
        char meaning[128];
        WindowsErrorText(error, meaning, sizeof meaning);
        if (instance->debug)
            WriteDebugLog(
                instance,
                "    Error: the protected Password cannot be unprotected: %s (error %lu); it holds "
                "only for the Windows user, Address and Login it was protected for",
                meaning, static_cast<unsigned long>(error));
        return false;
    }
    // The profile functions could never have given a NUL, nor more than fits.
    bool fits = plain.cbData < size && !memchr(plain.pbData, '\0', plain.cbData);
    if (fits) {
        memcpy(password, plain.pbData, plain.cbData);
        password[plain.cbData] = '\0';
    } else if (instance->debug) {
        WriteDebugLog(instance, "    Error: the protected Password is longer than %u characters",
                      static_cast<unsigned>(size - 1));
    }
    Wipe(&plain);
    return fits;
}
