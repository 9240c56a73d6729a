#include "secrets/password_write_back_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "config/ini_value_edit.h"
#include "docklet/replace_file_win.h"
#include "log/debug_log.h"
#include "log/windows_error_text_win.h"
#include "secrets/protected_password_win.h"
#include "text/bounded_text.h"
#include "text/secret_wipe.h"

namespace {

// Far beyond any INI file of this docklet: a larger one is left as it is.
const DWORD kMaxIniSize = 1024 * 1024;

// Room for a value read from the file: a protected one is the longest.
const int kValueSize = kProtectedPasswordSize + sizeof kProtectedPrefix;

// The protected value for one copy of a Password.
struct ProtectedCopy {
    IniValue value;
    char text[kValueSize];
};

// Every account's Password copies in the file, in file order per account.
struct Copies {
    size_t* perAccount;      // how many each account has
    IniValue* values;        // all of them, account after account
    ProtectedCopy* protect;  // room for a protected value for each
    size_t total;
};

// What one edit of the file did, logged once the file is settled.
struct WriteBack {
    const DockletInstance* instance;
    int copies;        // Password copies the edit protected
    bool readOnly;     // there was something to protect, but the user made the file read-only
    char notes[2048];  // reason lines of copies left plain, each ending in \n
};

void Note(WriteBack* writeBack, const char* format, ...) TIDEWELL_PRINTF(2, 3);
void Note(WriteBack* writeBack, const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(line, sizeof line, format, arguments);
    va_end(arguments);
    const size_t used = strlen(writeBack->notes);
    FormatText(writeBack->notes + used, sizeof writeBack->notes - used, "%s\n", line);
}

void LogError(const DockletInstance* instance, const char* what, DWORD error) {
    char meaning[128];
    WindowsErrorText(error, meaning, sizeof meaning);
    WriteDebugLog(instance, "  Error: passwords not protected: %s %s: %s (error %lu)", what, instance->iniPath,
                  meaning, static_cast<unsigned long>(error));
}

enum ValueText {
    kValueText,     // as the configuration reads it
    kValueTooLong,  // more than kValueSize holds
    kValueNotText,  // a NUL, or a character Windows' code page lacks
};

// The characters of a value of a UTF-16 file, into wide[kValueSize].
ValueText WideValue(IniEncoding encoding, const char* bytes, size_t length, WCHAR* wide, int* units) {
    *units = 0;
    if (length / 2 >= static_cast<size_t>(kValueSize))
        return kValueTooLong;
    for (size_t i = 0; i + 1 < length; i += 2) {
        const unsigned char a = bytes[i], b = bytes[i + 1];
        wide[(*units)++] = static_cast<WCHAR>(encoding == kIniUtf16Le ? a | b << 8 : a << 8 | b);
    }
    return kValueText;
}

// The value as the configuration reads a Password, into out[kValueSize]: the
// file's bytes when it is read as UTF-8 or one byte a character, the
// characters of a UTF-16 file in Windows' code page (as
// GetPrivateProfileStringA gives them). One that does not come back the same
// from the code page is refused rather than protected changed.
ValueText ValueAsRead(const FileSnapshot* file, const IniValue& value, char* out) {
    const IniEncoding encoding = IniFileEncoding(file->bytes, file->length);
    const char* bytes = file->bytes + value.textBegin;
    const size_t length = value.textEnd - value.textBegin;
    out[0] = '\0';
    if (encoding != kIniUtf16Le && encoding != kIniUtf16Be) {
        if (memchr(bytes, '\0', length))
            return kValueNotText;
        if (length >= static_cast<size_t>(kValueSize))
            return kValueTooLong;
        memcpy(out, bytes, length);
        out[length] = '\0';
        return kValueText;
    }
    WCHAR wide[kValueSize];
    WCHAR back[kValueSize];
    int units = 0;
    ValueText outcome = WideValue(encoding, bytes, length, wide, &units);
    for (int i = 0; outcome == kValueText && i < units; ++i)
        if (wide[i] == 0)
            outcome = kValueNotText;
    if (outcome == kValueText && units > 0) {
        const int narrow = WideCharToMultiByte(CP_ACP, 0, wide, units, out, kValueSize - 1, nullptr, nullptr);
        if (narrow == 0)
            outcome = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kValueTooLong : kValueNotText;
        out[narrow] = '\0';
        const int again = narrow == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, out, narrow, back, kValueSize);
        if (outcome == kValueText && (again != units || memcmp(back, wide, units * sizeof(WCHAR)) != 0))
            outcome = kValueNotText;
        WipeSecret(back, sizeof back);
    }
    WipeSecret(wide, sizeof wide);
    return outcome;
}

bool IsProtected(const char* value) {
    char prefix[sizeof kProtectedPrefix];
    CopyText(prefix, sizeof prefix, value);
    return EqualsIgnoringCase(prefix, kProtectedPrefix);
}

// Whether the copy read is still the password read at start.
bool StillAsRead(ValueText read, const char* text, const MailAccount* account) {
    return account->password[0] != '\0' && read == kValueText && strcmp(text, account->password) == 0;
}

// Protects each plain copy of account index's Password into
// protect[*count...]. The copy read is protected only while it is the
// password read at start; else the account is left whole, since its Address
// or Login may have changed with it (the next start protects them all).
void ProtectAccount(WriteBack* writeBack, const FileSnapshot* file, int index, const IniValue* values,
                    size_t found, ProtectedCopy* protect, size_t* count) {
    const DockletInstance* instance = writeBack->instance;
    const MailAccount* account = &instance->accounts[index];
    const size_t first = *count;
    bool readSeen = false;
    char text[kValueSize];
    for (size_t i = 0; i < found; ++i) {
        const IniValue& value = values[i];
        readSeen = readSeen || value.read;
        if (value.textBegin == value.textEnd)
            continue;
        const ValueText read = ValueAsRead(file, value, text);
        if (read == kValueText && IsProtected(text))
            continue;
        if (value.read && !StillAsRead(read, text, account)) {
            Note(writeBack, "  Account %d: Password left as it is: changed in the file since the start", index);
            *count = first;
            break;
        }
        if (!value.read && (read != kValueText || strlen(text) >= sizeof account->password)) {
            Note(writeBack, "  Account %d: Password on line %u left as it is: %s", index,
                 static_cast<unsigned>(value.line),
                 read == kValueNotText ? "a character of it is not in Windows' code page, or it holds a NUL"
                                       : "longer than 259 characters");
            continue;
        }
        DWORD error = 0;
        ProtectedCopy* copy = &protect[*count];
        if (!ProtectPassword(account, value.read ? account->password : text, copy->text, sizeof copy->text,
                             &error)) {
            char meaning[128];
            WindowsErrorText(error, meaning, sizeof meaning);
            Note(writeBack, "  Account %d: Password on line %u left as it is: CryptProtectData failed: %s (error %lu)",
                 index, static_cast<unsigned>(value.line), meaning, static_cast<unsigned long>(error));
            continue;
        }
        copy->value = value;
        ++*count;
    }
    if (!readSeen && account->password[0] != '\0') {
        Note(writeBack, "  Account %d: Password left as it is: changed in the file since the start", index);
        *count = first;
    }
    WipeSecret(text, sizeof text);
}

// Lists the copies of every account into copies; false without memory.
bool ListCopies(const DockletInstance* instance, const FileSnapshot* file, Copies* copies) {
    copies->perAccount = static_cast<size_t*>(calloc(instance->accountCount + 1, sizeof(size_t)));
    if (!copies->perAccount)
        return false;
    for (int pass = 0; pass < 2; ++pass) {
        size_t total = 0;
        for (int i = 0; i < instance->accountCount; ++i) {
            char section[32];
            FormatText(section, sizeof section, "account%d", i);
            IniValue* at = copies->values ? copies->values + total : nullptr;
            copies->perAccount[i] =
                FindIniValues(file->bytes, file->length, section, "Password", at, at ? copies->total - total : 0);
            total += copies->perAccount[i];
        }
        copies->total = total;
        if (pass == 0) {
            copies->values = static_cast<IniValue*>(calloc(total + 1, sizeof(IniValue)));
            copies->protect = static_cast<ProtectedCopy*>(calloc(total + 1, sizeof(ProtectedCopy)));
            if (!copies->values || !copies->protect)
                return false;
        }
    }
    return true;
}

int ByPlaceInFile(const void* a, const void* b) {
    const size_t left = static_cast<const ProtectedCopy*>(a)->value.begin;
    const size_t right = static_cast<const ProtectedCopy*>(b)->value.begin;
    return left < right ? -1 : left > right ? 1 : 0;
}

// The file with the protected values in place of the copies.
bool Replace(const FileSnapshot* file, ProtectedCopy* protect, size_t count, char** edited, size_t* editedLength) {
    // Sections of one account may stand between another's.
    qsort(protect, count, sizeof *protect, ByPlaceInFile);
    IniReplacement* replacements = static_cast<IniReplacement*>(calloc(count, sizeof(IniReplacement)));
    size_t capacity = file->length;
    for (size_t i = 0; replacements && i < count; ++i) {
        replacements[i] = IniReplacement{protect[i].value, protect[i].text};
        capacity += strlen(protect[i].text) * IniUnitSize(IniFileEncoding(file->bytes, file->length));
    }
    *edited = replacements ? static_cast<char*>(malloc(capacity + 1)) : nullptr;
    bool replaced =
        *edited && ReplaceIniValues(file->bytes, file->length, replacements, count, *edited, capacity, editedLength);
    free(replacements);
    return replaced;
}

// The FileEdit of the write-back.
bool ProtectCopies(void* context, const FileSnapshot* file, char** edited, size_t* editedLength) {
    WriteBack* writeBack = static_cast<WriteBack*>(context);
    const DockletInstance* instance = writeBack->instance;
    writeBack->copies = 0;
    writeBack->readOnly = false;
    writeBack->notes[0] = '\0';
    Copies copies = {nullptr, nullptr, nullptr, 0};
    size_t count = 0;
    bool listed = ListCopies(instance, file, &copies);
    for (int i = 0, at = 0; listed && i < instance->accountCount; at += copies.perAccount[i], ++i)
        ProtectAccount(writeBack, file, i, copies.values + at, copies.perAccount[i], copies.protect, &count);
    // A file the user made read-only is not theirs to have rewritten.
    writeBack->readOnly = count > 0 && (file->attributes & FILE_ATTRIBUTE_READONLY);
    bool replaced = count > 0 && !writeBack->readOnly && Replace(file, copies.protect, count, edited, editedLength);
    if (!listed || (count > 0 && !writeBack->readOnly && !replaced))
        Note(writeBack, "  Error: passwords not protected: no memory to rewrite %s", instance->iniPath);
    writeBack->copies = replaced ? static_cast<int>(count) : 0;
    free(copies.protect);
    free(copies.values);
    free(copies.perAccount);
    return replaced;
}

void LogNotes(const WriteBack& writeBack) {
    const char* note = writeBack.notes;
    for (const char* end; (end = strchr(note, '\n')) != nullptr; note = end + 1)
        WriteDebugLog(writeBack.instance, "%.*s", static_cast<int>(end - note), note);
}

void LogProtected(const WriteBack& writeBack, const RewriteReport& report) {
    const DockletInstance* instance = writeBack.instance;
    char where[MAX_PATH + 64] = "";
    if (report.inPlace && report.links > 1)
        FormatText(where, sizeof where, " (written in place: the file has %lu names)",
                   static_cast<unsigned long>(report.links));
    else if (report.inPlace)
        CopyText(where, sizeof where, " (written in place)");
    else if (lstrcmpiA(report.realPath, instance->iniPath) != 0)
        FormatText(where, sizeof where, " (in %s, where it leads)", report.realPath);
    WriteDebugLog(instance, "  Passwords protected in %s%s: %d", instance->iniPath, where, writeBack.copies);
}

}  // namespace

bool ProtectPasswordsInFile(const DockletInstance* instance) {
    if (instance->iniPath[0] == '\0')
        return true;
    WriteBack writeBack = {instance, 0, false, ""};
    RewriteReport report;
    const RewriteOutcome outcome =
        RewriteFile(instance->iniPath, kMaxIniSize, ProtectCopies, &writeBack, instance->stopEvent, &report);
    if (!instance->debug)
        return outcome != kRewriteKeptChanging;
    if (outcome == kRewritten || outcome == kRewriteNotWanted)
        LogNotes(writeBack);
    switch (outcome) {
    case kRewritten:
        LogProtected(writeBack, report);
        break;
    case kRewriteNotWanted:
        if (writeBack.readOnly)
            LogError(instance, "read-only", ERROR_ACCESS_DENIED);
        break;
    case kRewriteNotFound:
        LogError(instance, "cannot find", report.error);
        break;
    case kRewriteTooLarge:
        LogError(instance, "too large to rewrite,", report.error);
        break;
    case kRewriteUnreadable:
        LogError(instance, "cannot read", report.error);
        break;
    case kRewriteNoTemporary:
        LogError(instance, "cannot write beside", report.error);
        break;
    case kRewriteNotWritten:
        LogError(instance, "cannot write", report.error);
        break;
    case kRewriteKeptChanging:
        WriteDebugLog(instance,
                      "  Error: passwords not protected: %s changed, or another program held it, each time it was "
                      "about to be written: left for the next check",
                      instance->iniPath);
        break;
    }
    return outcome != kRewriteKeptChanging;
}
