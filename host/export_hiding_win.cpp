#include "export_hiding_win.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

// Makes a range writable for the duration of the rewrite.
class WritableRange {
  public:
    WritableRange(void* start, size_t size) : start_(start), size_(size) {
        ok_ = VirtualProtect(start_, size_, PAGE_READWRITE, &previous_) != FALSE;
    }
    ~WritableRange() {
        if (ok_)
            VirtualProtect(start_, size_, previous_, &previous_);
    }
    bool ok() const { return ok_; }

  private:
    void* start_;
    size_t size_;
    DWORD previous_ = 0;
    bool ok_;
};

}  // namespace

bool HideOwnExports(const std::vector<std::string>& names, std::string* error) {
    if (names.empty())
        return true;
    HMODULE self = GetModuleHandleA(nullptr);
    char* base = reinterpret_cast<char*>(self);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0) {
        *error = "this executable has no export directory";
        return false;
    }
    IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    DWORD* nameRvas = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    WORD* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    DWORD count = exports->NumberOfNames;

    WritableRange directory(exports, sizeof *exports);
    WritableRange nameTable(nameRvas, count * sizeof *nameRvas);
    WritableRange ordinalTable(ordinals, count * sizeof *ordinals);
    if (!directory.ok() || !nameTable.ok() || !ordinalTable.ok()) {
        *error = "cannot make the export directory writable, error " + std::to_string(GetLastError());
        return false;
    }
    // Dropping entries keeps the name table sorted, as the loader's binary
    // search needs it.
    DWORD kept = 0;
    for (DWORD i = 0; i < count; ++i) {
        const char* name = base + nameRvas[i];
        if (std::find(names.begin(), names.end(), name) != names.end())
            continue;
        nameRvas[kept] = nameRvas[i];
        ordinals[kept] = ordinals[i];
        ++kept;
    }
    exports->NumberOfNames = kept;

    for (const std::string& name : names) {
        if (GetProcAddress(self, name.c_str())) {
            *error = "hiding did not take: GetProcAddress still finds " + name;
            return false;
        }
    }
    return true;
}
