#include "mail/mailbox_name_win.h"

#include <windows.h>

#include <cstdint>

#include "config/mail_account.h"
#include "mail/mailbox_name.h"
#include "text/bounded_text.h"

bool FormMailboxName(const char* folder, bool utf8, char* out, size_t size) {
    if (folder[0] == '\0')
        return CopyText(out, size, "INBOX");
    if (utf8)
        return EncodeUtf8MailboxName(folder, out, size);
    wchar_t units[kAccountTextSize];
    const int count =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, folder, -1, units, kAccountTextSize);
    if (count <= 0) {
        CopyText(out, size, "");
        return false;
    }
    uint16_t name[kAccountTextSize];
    for (int i = 0; i < count; ++i)
        name[i] = static_cast<uint16_t>(units[i]);
    // The count includes the terminator.
    return EncodeMailboxName(name, static_cast<size_t>(count - 1), out, size);
}
