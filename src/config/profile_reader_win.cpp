#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "config/ini_value_edit.h"
#include "config/profile_reader_win.h"
#include "docklet/bounded_file_win.h"
#include "text/bounded_text.h"
#include "text/secret_wipe.h"
#include "text/utf8.h"

namespace {

// The largest INI file read as UTF-8; a larger one goes to the profile functions.
const DWORD kMaxUtf8IniSize = 1024 * 1024;

int32_t ReadProfileInt(const void* file, const char* section, const char* key, int32_t fallback) {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, fallback, static_cast<const char*>(file)));
}

bool ReadProfileText(const void* file, const char* section, const char* key, ProfileTextForm, char* buffer,
                     uint32_t size) {
    GetPrivateProfileStringA(section, key, "", buffer, size, static_cast<const char*>(file));
    return true;
}

bool ProfileSectionHasKeys(const void* file, const char* section) {
    // A key is at least "k=" and its terminator: any of it shows one is there.
    char start[4];
    return GetPrivateProfileSectionA(section, start, sizeof start, static_cast<const char*>(file)) > 0;
}

// The UTF-8 text[length] in the ANSI code page into buffer[size], cut between
// two characters; false when a character had no equal there.
bool Utf8InCodePage(const char* text, size_t length, char* buffer, uint32_t size) {
    buffer[0] = '\0';
    if (length == 0)
        return true;
    const int wideLength = static_cast<int>(length);
    const int narrowSize = 2 * wideLength;
    WCHAR* wide = static_cast<WCHAR*>(malloc(2 * length * sizeof(WCHAR) + narrowSize));
    if (!wide)
        return true;
    WCHAR* back = wide + length;
    char* narrow = reinterpret_cast<char*>(back + length);
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, wideLength, wide, wideLength);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, narrow, narrowSize, nullptr, nullptr);
    const int again = MultiByteToWideChar(CP_ACP, 0, narrow, bytes, back, wideLength);
    const bool exact = again == units && memcmp(wide, back, units * sizeof(WCHAR)) == 0;
    int kept = 0;
    while (kept < bytes) {
        const int step = IsDBCSLeadByte(static_cast<BYTE>(narrow[kept])) ? 2 : 1;
        if (static_cast<uint32_t>(kept + step) >= size)
            break;
        kept += step;
    }
    memcpy(buffer, narrow, kept);
    buffer[kept] = '\0';
    WipeSecret(wide, 2 * length * sizeof(WCHAR) + narrowSize);
    free(wide);
    return exact;
}

// The value read, as the text of a UTF-8 file holds it; false when there is none.
bool Utf8Value(const void* file, const char* section, const char* key, const char** text, size_t* length) {
    const IniFileText* ini = static_cast<const IniFileText*>(file);
    IniValue value;
    if (!FindIniValueRead(ini->bytes, ini->length, section, key, &value))
        return false;
    *text = ini->bytes + value.textBegin;
    *length = value.textEnd - value.textBegin;
    return true;
}

int32_t ReadUtf8Int(const void* file, const char* section, const char* key, int32_t fallback) {
    const char* text;
    size_t length;
    if (!Utf8Value(file, section, key, &text, &length) || length == 0)
        return fallback;
    char number[32];
    const size_t kept = length < sizeof number - 1 ? length : sizeof number - 1;
    memcpy(number, text, kept);
    number[kept] = '\0';
    return ProfileIntFromText(number);
}

bool ReadUtf8Text(const void* file, const char* section, const char* key, ProfileTextForm form, char* buffer,
                  uint32_t size) {
    if (size == 0)
        return true;
    buffer[0] = '\0';
    const char* text;
    size_t length;
    if (!Utf8Value(file, section, key, &text, &length))
        return true;
    if (form == kProfileCodePage)
        return Utf8InCodePage(text, length, buffer, size);
    const size_t kept = Utf8FittingLength(text, length, size - 1);
    memcpy(buffer, text, kept);
    buffer[kept] = '\0';
    return true;
}

bool Utf8SectionHasKeys(const void* file, const char* section) {
    const IniFileText* ini = static_cast<const IniFileText*>(file);
    return IniSectionHasKeys(ini->bytes, ini->length, section);
}

// The file's bytes wiped and freed: they hold the passwords.
void ForgetText(IniProfile* profile) {
    if (profile->text.bytes)
        WipeSecret(profile->text.bytes, profile->text.length);
    free(profile->text.bytes);
    profile->text = IniFileText{nullptr, 0};
}

} // namespace

void OpenIniProfile(IniProfile* profile, const char* path) {
    CopyText(profile->path, sizeof profile->path, path);
    profile->text = IniFileText{nullptr, 0};
    profile->reader = ProfileReader{profile->path, false, ReadProfileInt, ReadProfileText, ProfileSectionHasKeys};
    DWORD error = 0;
    if (ReadBoundedFile(path, kMaxUtf8IniSize, &profile->text.bytes, &profile->text.length, &error) !=
        kBoundedFileRead)
        return;
    if (!IniReadsAsUtf8(profile->text.bytes, profile->text.length)) {
        ForgetText(profile);
        return;
    }
    profile->reader = ProfileReader{&profile->text, true, ReadUtf8Int, ReadUtf8Text, Utf8SectionHasKeys};
}

void CloseIniProfile(IniProfile* profile) {
    ForgetText(profile);
    profile->reader = kMissingProfile;
}
