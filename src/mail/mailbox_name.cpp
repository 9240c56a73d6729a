#include "mail/mailbox_name.h"

#include <cstring>

#include "text/utf8.h"

namespace {

const char kModifiedBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool StandsAsItself(uint16_t unit) {
    return unit >= 0x20 && unit <= 0x7E;
}

struct Writer {
    char* out;
    size_t size;
    size_t used;
    bool fits;
};

void Put(Writer* writer, char c) {
    if (writer->used + 1 >= writer->size) {
        writer->fits = false;
        return;
    }
    writer->out[writer->used++] = c;
}

// One run of units that cannot stand as themselves: 16 bits each, taken 6 at
// a time, the last group padded with zero bits.
void PutRun(Writer* writer, const uint16_t* units, size_t count) {
    Put(writer, '&');
    uint32_t bits = 0;
    int held = 0;
    for (size_t i = 0; i < count; ++i) {
        bits = (bits << 16) | units[i];
        held += 16;
        while (held >= 6) {
            held -= 6;
            Put(writer, kModifiedBase64[(bits >> held) & 0x3F]);
        }
        bits &= (1u << held) - 1;
    }
    if (held > 0)
        Put(writer, kModifiedBase64[(bits << (6 - held)) & 0x3F]);
    Put(writer, '-');
}

} // namespace

bool EncodeMailboxName(const uint16_t* units, size_t count, char* out, size_t size) {
    if (size == 0)
        return false;
    Writer writer = {out, size, 0, true};
    for (size_t i = 0; i < count && writer.fits;) {
        if (units[i] == '&') {
            Put(&writer, '&');
            Put(&writer, '-');
            ++i;
        } else if (StandsAsItself(units[i])) {
            Put(&writer, static_cast<char>(units[i]));
            ++i;
        } else {
            size_t end = i;
            while (end < count && !StandsAsItself(units[end]))
                ++end;
            PutRun(&writer, units + i, end - i);
            i = end;
        }
    }
    out[writer.fits ? writer.used : 0] = '\0';
    return writer.fits;
}

bool EncodeUtf8MailboxName(const char* name, char* out, size_t size) {
    // A name of n bytes has at most n UTF-16 units.
    uint16_t units[kMailboxNameSize];
    size_t count = 0;
    if (!Utf8ToUtf16(name, strlen(name), units, sizeof units / sizeof units[0], &count)) {
        if (size > 0)
            out[0] = '\0';
        return false;
    }
    return EncodeMailboxName(units, count, out, size);
}
