#include "check/seen_state.h"

#include <cstdlib>
#include <cstring>

#include "text/bounded_text.h"
#include "text/percent_encoding.h"

namespace {

const char kFileHead[] = "Tidewell seen 1";
const size_t kMaxUidLength = 70;

// Ids collected one by one, then sorted into a set.
struct UidBuilder {
    UidSet set;
    size_t used;     // bytes of set.text in use
    size_t capacity; // bytes of set.text
    size_t slots;    // entries of set.starts
};

bool IsUid(const char* uid, size_t length) {
    if (length == 0 || length > kMaxUidLength)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (uid[i] < 0x21 || uid[i] > 0x7E)
            return false;
    return true;
}

bool AddUid(UidBuilder* builder, const char* uid, size_t length) {
    if (builder->used + length + 1 > builder->capacity) {
        size_t capacity = builder->capacity * 2 + length + 1 + 1024;
        char* text = static_cast<char*>(realloc(builder->set.text, capacity));
        if (!text)
            return false;
        builder->set.text = text;
        builder->capacity = capacity;
    }
    if (builder->set.count == builder->slots) {
        size_t slots = builder->slots * 2 + 64;
        uint32_t* starts =
            static_cast<uint32_t*>(realloc(builder->set.starts, slots * sizeof(uint32_t)));
        if (!starts)
            return false;
        builder->set.starts = starts;
        builder->slots = slots;
    }
    builder->set.starts[builder->set.count++] = static_cast<uint32_t>(builder->used);
    memcpy(builder->set.text + builder->used, uid, length);
    builder->set.text[builder->used + length] = '\0';
    builder->used += length + 1;
    return true;
}

const char* g_sortedText; // qsort takes no context: set only around one sort

int CompareStarts(const void* left, const void* right) {
    return strcmp(g_sortedText + *static_cast<const uint32_t*>(left),
                  g_sortedText + *static_cast<const uint32_t*>(right));
}

void FinishUidSet(UidBuilder* builder, UidSet* set) {
    if (builder->set.count > 1) {
        g_sortedText = builder->set.text;
        qsort(builder->set.starts, builder->set.count, sizeof(uint32_t), CompareStarts);
        g_sortedText = nullptr;
    }
    *set = builder->set;
}

// The next line of text[0..length) from *at, without its line end; false at the end.
bool NextLine(const char* text, size_t length, size_t* at, const char** line, size_t* lineLength) {
    if (*at >= length)
        return false;
    const char* start = text + *at;
    const char* end = static_cast<const char*>(memchr(start, '\n', length - *at));
    const size_t span = end ? static_cast<size_t>(end - start) : length - *at;
    *at += span + (end ? 1 : 0);
    *line = start;
    *lineLength = span > 0 && start[span - 1] == '\r' ? span - 1 : span;
    return true;
}

// Reads a decimal of up to 32 bits that fills text[0..length).
bool ReadDecimal(const char* text, size_t length, uint32_t* number) {
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > UINT32_MAX)
            return false;
    }
    *number = static_cast<uint32_t>(value);
    return length > 0;
}

// Splits line[0..length) at single spaces into at most max fields; the count.
size_t SplitFields(const char* line, size_t length, const char** fields, size_t* lengths,
                   size_t max) {
    size_t count = 0;
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && line[i] != ' ')
            continue;
        if (count == max)
            return max + 1;
        fields[count] = line + start;
        lengths[count++] = i - start;
        start = i + 1;
    }
    return count;
}

SeenEntry* FindEntry(SeenEntry* entries, int32_t count, const char* key, size_t length, bool pop) {
    for (int32_t i = 0; i < count; ++i)
        if (entries[i].pop == pop && strlen(entries[i].key) == length &&
            memcmp(entries[i].key, key, length) == 0)
            return &entries[i];
    return nullptr;
}

struct Text {
    char* bytes;
    size_t used;
    size_t capacity;
    bool failed;
};

void Add(Text* text, const char* part) {
    const size_t length = strlen(part);
    if (text->failed)
        return;
    if (text->used + length + 1 > text->capacity) {
        size_t capacity = text->capacity * 2 + length + 1;
        char* bytes = static_cast<char*>(realloc(text->bytes, capacity));
        if (!bytes) {
            text->failed = true;
            return;
        }
        text->bytes = bytes;
        text->capacity = capacity;
    }
    memcpy(text->bytes + text->used, part, length + 1);
    text->used += length;
}

} // namespace

void FreeUidSet(UidSet* set) {
    free(set->text);
    free(set->starts);
    *set = UidSet{};
}

bool UidSetHolds(const UidSet* set, const char* uid) {
    size_t low = 0;
    size_t high = set->count;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const int order = strcmp(set->text + set->starts[middle], uid);
        if (order == 0)
            return true;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return false;
}

UidlRead ReadUidlListing(const char* reply, UidSet* set) {
    FreeUidSet(set);
    UidBuilder builder = {};
    const size_t length = strlen(reply);
    size_t at = 0;
    const char* line;
    size_t lineLength;
    UidlRead outcome = kUidlBad;
    // The status line first, then "n id" lines (RFC 1939 section 7).
    if (NextLine(reply, length, &at, &line, &lineLength) && strncmp(line, "+OK", 3) == 0) {
        while (NextLine(reply, length, &at, &line, &lineLength)) {
            if (lineLength == 1 && line[0] == '.') {
                outcome = kUidlRead;
                break;
            }
            const char* fields[2];
            size_t lengths[2];
            uint32_t number;
            if (SplitFields(line, lineLength, fields, lengths, 2) != 2 ||
                !ReadDecimal(fields[0], lengths[0], &number) || !IsUid(fields[1], lengths[1]))
                break;
            if (!AddUid(&builder, fields[1], lengths[1])) {
                outcome = kUidlNoMemory;
                break;
            }
        }
    }
    if (outcome != kUidlRead) {
        FreeUidSet(&builder.set);
        return outcome;
    }
    FinishUidSet(&builder, set);
    return kUidlRead;
}

void FreeSeenMark(SeenMark* mark) {
    FreeUidSet(&mark->uids);
    *mark = SeenMark{};
}

bool FormSeenKey(const MailAccount* account, char* key, size_t size) {
    if (size == 0)
        return false;
    key[0] = '\0';
    size_t used = 0;
    const char* const parts[] = {account->typeText, account->address, account->login,
                                 account->folder};
    for (const char* part : parts) {
        char lower[kAccountTextSize];
        CopyText(lower, sizeof lower, part);
        // Type is compared without regard to case when read.
        if (part == account->typeText)
            for (char* c = lower; *c; ++c)
                *c = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
        if ((used > 0 && !AppendPercentEncoded(key, size, &used, "/")) ||
            !AppendPercentEncoded(key, size, &used, lower)) {
            key[0] = '\0';
            return false;
        }
    }
    return true;
}

char* FormSeenFile(const SeenEntry* entries, int32_t count, size_t* length) {
    Text text = {nullptr, 0, 0, false};
    Add(&text, kFileHead);
    Add(&text, "\n");
    for (int32_t i = 0; i < count; ++i) {
        const SeenEntry& entry = entries[i];
        if (entry.key[0] == '\0' || !entry.baseline.known)
            continue;
        bool earlier = false;
        for (int32_t j = 0; j < i && !earlier; ++j)
            earlier = entries[j].pop == entry.pop && entries[j].baseline.known &&
                      strcmp(entries[j].key, entry.key) == 0;
        if (earlier)
            continue;
        char numbers[48];
        if (entry.pop) {
            FormatText(numbers, sizeof numbers, " %lu\n",
                       static_cast<unsigned long>(entry.baseline.uids.count));
            Add(&text, "pop ");
            Add(&text, entry.key);
            Add(&text, numbers);
            for (size_t u = 0; u < entry.baseline.uids.count; ++u) {
                Add(&text, entry.baseline.uids.text + entry.baseline.uids.starts[u]);
                Add(&text, "\n");
            }
        } else {
            FormatText(numbers, sizeof numbers, " %lu %lu\n",
                       static_cast<unsigned long>(entry.baseline.validity),
                       static_cast<unsigned long>(entry.baseline.highest));
            Add(&text, "imap ");
            Add(&text, entry.key);
            Add(&text, numbers);
        }
    }
    if (text.failed) {
        free(text.bytes);
        return nullptr;
    }
    *length = text.used;
    return text.bytes;
}

bool ReadSeenFile(const char* text, size_t length, SeenEntry* entries, int32_t count,
                  size_t* badLine) {
    size_t at = 0;
    size_t lineNumber = 1;
    const char* line;
    size_t lineLength;
    bool damaged = !NextLine(text, length, &at, &line, &lineLength) ||
                   lineLength != sizeof kFileHead - 1 || memcmp(line, kFileHead, lineLength) != 0 ||
                   memchr(text, '\0', length) != nullptr;
    while (!damaged && NextLine(text, length, &at, &line, &lineLength)) {
        ++lineNumber;
        const char* fields[4];
        size_t lengths[4];
        const size_t fieldCount = SplitFields(line, lineLength, fields, lengths, 4);
        const bool pop = fieldCount == 3 && lengths[0] == 3 && memcmp(fields[0], "pop", 3) == 0;
        const bool imap = fieldCount == 4 && lengths[0] == 4 && memcmp(fields[0], "imap", 4) == 0;
        uint32_t first = 0;
        uint32_t second = 0;
        damaged = !(pop || imap) || lengths[1] == 0 || lengths[1] >= kSeenKeySize ||
                  !ReadDecimal(fields[2], lengths[2], &first) ||
                  (imap && !ReadDecimal(fields[3], lengths[3], &second));
        if (damaged)
            break;
        SeenEntry* entry = FindEntry(entries, count, fields[1], lengths[1], pop);
        SeenMark mark = {true, first, second, UidSet{}};
        if (pop) {
            UidBuilder builder = {};
            for (uint32_t u = 0; u < first && !damaged; ++u) {
                ++lineNumber;
                damaged = !NextLine(text, length, &at, &line, &lineLength) ||
                          !IsUid(line, lineLength) ||
                          (entry && !AddUid(&builder, line, lineLength));
            }
            if (damaged) {
                FreeUidSet(&builder.set);
                break;
            }
            FinishUidSet(&builder, &mark.uids);
            mark.validity = 0;
        }
        if (!entry) {
            FreeSeenMark(&mark);
            continue;
        }
        // Accounts that share a key share the first one's entry.
        FreeSeenMark(&entry->baseline);
        entry->baseline = mark;
    }
    // Every line is written with its end: a file cut short may still read
    // as records, its last id a shorter one.
    damaged = damaged || text[length - 1] != '\n';
    if (!damaged)
        return true;
    *badLine = lineNumber;
    for (int32_t i = 0; i < count; ++i)
        FreeSeenMark(&entries[i].baseline);
    return false;
}
