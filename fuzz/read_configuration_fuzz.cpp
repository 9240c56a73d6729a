// The settings file read into an instance, with a profile reader whose every
// answer comes from the input: present or missing, any integer, any text cut
// to the buffer it is given as the Windows profile functions cut it, read
// from a UTF-8 file or not. The
// docklet folder's name is long or short as the input chooses, so the paths
// of the settings file and the log may not fit; the log, when Debug is 1,
// goes to a temporary folder of this process.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/read_configuration.h"

namespace {

FuzzedDataProvider* answers;
std::string folder;  // the temporary docklet folder, with its closing '/'

int32_t AnswerInt(const void* file, const char*, const char* key, int32_t fallback) {
    if (file != folder.c_str())
        abort();
    if (!answers->ConsumeBool())
        return fallback;
    // Every account is allocated, read and, with Debug on, written to the
    // log: a count in the millions would make each run take seconds, so the
    // count stays small here. Counts that do not fit in memory are a unit
    // test's matter, not the fuzzer's.
    if (strcmp(key, "NbAccount") == 0)
        return answers->ConsumeIntegralInRange<int32_t>(-2, 64);
    return answers->ConsumeIntegral<int32_t>();
}

// A text that lost characters to the code page is reported as such at will.
bool AnswerText(const void* file, const char*, const char*, ProfileTextForm, char* buffer, uint32_t size) {
    if (file != folder.c_str())
        abort();
    std::string text = answers->ConsumeBool() ? answers->ConsumeRandomLengthString(600) : "";
    if (size == 0)
        return true;
    size_t length = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return answers->ConsumeBool();
}

bool AnswerHasKeys(const void*, const char*) { return answers->ConsumeBool(); }

template <size_t size>
bool Terminated(const char (&text)[size]) {
    return memchr(text, '\0', size) != nullptr;
}

bool Sound(const DockletInstance& instance) {
    if (!Terminated(instance.logPath) || !Terminated(instance.link) || !Terminated(instance.checkText) ||
        !Terminated(instance.noMessageText) || !Terminated(instance.oneMessageText) ||
        !Terminated(instance.manyMessagesTemplate) || !Terminated(instance.failedTemplate))
        return false;
    if ((instance.accounts != nullptr) != (instance.accountCount > 0))
        return false;
    for (int i = 0; i < instance.accountCount; ++i) {
        const MailAccount& account = instance.accounts[i];
        if (account.type < kAccountNone || account.type > kAccountImap || account.dbxCount < 0 ||
            account.dbxCount > kMaxDbxFiles || (account.dbxCount > 0 && account.dbxPaths[0][0] == '\0'))
            return false;
        if (!Terminated(account.address) || !Terminated(account.login) || !Terminated(account.password) ||
            !Terminated(account.registryPath) || !Terminated(account.fingerprintText))
            return false;
        // A pin is set exactly when its text reads as one, and no text means none.
        unsigned char digest[kSha256Size];
        bool reads = ParseCertificateFingerprint(account.fingerprintText, digest);
        if (account.pin != (account.fingerprintText[0] == '\0' ? kPinNone
                            : reads && strlen(account.fingerprintText) + 1 < sizeof account.fingerprintText
                                ? kPinSet
                                : kPinUnreadable) ||
            (account.pin == kPinSet && memcmp(digest, account.pinnedDigest, kSha256Size) != 0))
            return false;
        for (int j = 0; j < account.dbxCount; ++j)
            if (!Terminated(account.dbxPaths[j]))
                return false;
    }
    return true;
}

void RemoveFolder() { rmdir(folder.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/tidewell-fuzz-XXXXXX";
    if (!mkdtemp(name))
        abort();
    folder = std::string(name) + "/";
    atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    answers = &input;
    // "./" repeated names the same folder at any length, past kPathSize too.
    std::string relative;
    for (int n = input.ConsumeIntegralInRange(0, 130); n > 0; --n)
        relative += "./";

    DockletInstance instance = {};
    const ProfileReader reader = {folder.c_str(), input.ConsumeBool(), AnswerInt, AnswerText, AnswerHasKeys};
    ReadConfiguration(&instance, folder.c_str(), relative.c_str(), &reader);
    if (!Sound(instance))
        abort();
    free(instance.accounts);
    unlink((folder + "Debug.log").c_str());
    return 0;
}
