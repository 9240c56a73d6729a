#include "import_patch_win.h"

#include <cstring>

bool PatchImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                 void** original) {
    char* base = reinterpret_cast<char*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (entry.VirtualAddress == 0)
        return false;
    for (const IMAGE_IMPORT_DESCRIPTOR* imported =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + entry.VirtualAddress);
         imported->Name != 0; ++imported) {
        if (lstrcmpiA(base + imported->Name, dllName) != 0 || imported->OriginalFirstThunk == 0)
            continue;
        const IMAGE_THUNK_DATA* lookup =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imported->OriginalFirstThunk);
        IMAGE_THUNK_DATA* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imported->FirstThunk);
        for (; lookup->u1.AddressOfData != 0; ++lookup, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + lookup->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), functionName) != 0)
                continue;
            DWORD previousProtection;
            if (!VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function,
                                PAGE_READWRITE, &previousProtection))
                return false;
            *original = reinterpret_cast<void*>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function,
                           previousProtection, &previousProtection);
            return true;
        }
    }
    return false;
}
