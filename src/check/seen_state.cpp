#include "check/seen_state.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "text/bounded_text.h"
#include "text/percent_encoding.h"

namespace {

const char kFileHead[] = "Tidewell seen 1";
const size_t kMaxUidLength = 70;
// The probe is asked at most this often: a stop is seen within about as
// long, while the questions, each a call into the system, stay few.
const std::chrono::microseconds kProbeEvery(500);
// Steps of work (an id read, compared or merged) between two looks at the clock.
const uint32_t kStepsBetweenClockReads = 256;

struct StopPacer {
    const StopProbe* probe;                      // may be null: never stop
    uint32_t left;                               // steps until the next look at the clock
    std::chrono::steady_clock::time_point asked; // when the probe was last asked
};

StopPacer StartPacer(const StopProbe* probe) {
    return StopPacer{probe, kStepsBetweenClockReads, std::chrono::steady_clock::now()};
}

// Counts one step; true when the probe, asked every so often, says stop.
bool StopAfterStep(StopPacer* pacer) {
    if (!pacer->probe || --pacer->left != 0)
        return false;
    pacer->left = kStepsBetweenClockReads;
    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (now - pacer->asked < kProbeEvery)
        return false;
    pacer->asked = now;
    return pacer->probe->asked(pacer->probe->context);
}

// Orders ids as strcmp does, bytes taken unsigned.
int CompareIds(const char* left, const char* right) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<int>(*a) - static_cast<int>(*b);
}

// Ids collected one by one, then sorted into a set.
struct UidBuilder {
    UidSet set;
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
    if (builder->set.size + length + 1 > builder->capacity) {
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
    builder->set.starts[builder->set.count++] = static_cast<uint32_t>(builder->set.size);
    memcpy(builder->set.text + builder->set.size, uid, length);
    builder->set.text[builder->set.size + length] = '\0';
    builder->set.size += length + 1;
    return true;
}

// Makes room at once for ids of up to bytes in all, and for count of them:
// grown step by step, a large set is copied again and again. False when
// memory ran out (the builder stays empty).
bool ReserveUids(UidBuilder* builder, size_t bytes, size_t count) {
    char* text = static_cast<char*>(malloc(bytes + 1));
    uint32_t* starts = static_cast<uint32_t*>(malloc((count + 1) * sizeof(uint32_t)));
    if (!text || !starts) {
        free(text);
        free(starts);
        return false;
    }
    builder->set.text = text;
    builder->set.starts = starts;
    builder->capacity = bytes + 1;
    builder->slots = count + 1;
    return true;
}

// Sorts the starts by the ids they point at, with merges of runs that double
// in width: no input takes more than n log n comparisons, and runs already in
// order (a file written from a sorted set) are copied as they stand.
UidlRead SortStarts(const char* text, uint32_t* starts, size_t count, StopPacer* pacer) {
    if (count < 2)
        return kUidlRead;
    uint32_t* spare = static_cast<uint32_t*>(malloc(count * sizeof(uint32_t)));
    if (!spare)
        return kUidlNoMemory;
    uint32_t* from = starts;
    uint32_t* to = spare;
    for (size_t width = 1; width < count; width *= 2) {
        for (size_t left = 0; left < count; left += 2 * width) {
            const size_t middle = count - left > width ? left + width : count;
            const size_t right = count - middle > width ? middle + width : count;
            size_t i = left;
            size_t j = middle;
            size_t k = left;
            if (j < right && CompareIds(text + from[j - 1], text + from[j]) > 0) {
                while (i < middle && j < right) {
                    to[k++] =
                        CompareIds(text + from[j], text + from[i]) < 0 ? from[j++] : from[i++];
                    if (StopAfterStep(pacer)) {
                        free(spare);
                        return kUidlStopped;
                    }
                }
            }
            memcpy(to + k, from + i, (middle - i) * sizeof(uint32_t));
            memcpy(to + k + (middle - i), from + j, (right - j) * sizeof(uint32_t));
            if (StopAfterStep(pacer)) {
                free(spare);
                return kUidlStopped;
            }
        }
        uint32_t* merged = to;
        to = from;
        from = merged;
    }
    if (from != starts)
        memcpy(starts, from, count * sizeof(uint32_t));
    free(spare);
    return kUidlRead;
}

// Sorts the builder's ids into *set; unless sorted, frees them and leaves *set as it was.
UidlRead FinishUidSet(UidBuilder* builder, UidSet* set, StopPacer* pacer) {
    const UidlRead sorted =
        SortStarts(builder->set.text, builder->set.starts, builder->set.count, pacer);
    if (sorted != kUidlRead) {
        FreeUidSet(&builder->set);
        return sorted;
    }
    *set = builder->set;
    return kUidlRead;
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
        const int order = CompareIds(set->text + set->starts[middle], uid);
        if (order == 0)
            return true;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return false;
}

UidlRead ReadUidlListing(const char* reply, size_t length, UidSet* set, const StopProbe* stop) {
    FreeUidSet(set);
    StopPacer pacer = StartPacer(stop);
    UidBuilder builder = {};
    // Each id is at most its line less its number and a space; most lines
    // are far longer than the shortest, "1 a" and its end.
    if (!ReserveUids(&builder, length, length / 16))
        return kUidlNoMemory;
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
            if (StopAfterStep(&pacer)) {
                outcome = kUidlStopped;
                break;
            }
        }
    }
    if (outcome != kUidlRead) {
        FreeUidSet(&builder.set);
        return outcome;
    }
    return FinishUidSet(&builder, set, &pacer);
}

bool CountIdsNotIn(const UidSet* listing, const UidSet* marks, const StopProbe* stop,
                   size_t* fresh) {
    StopPacer pacer = StartPacer(stop);
    // Both sorted: one walk along the two.
    size_t count = 0;
    size_t m = 0;
    for (size_t i = 0; i < listing->count; ++i) {
        const char* id = listing->text + listing->starts[i];
        int order = 1;
        while (m < marks->count && (order = CompareIds(marks->text + marks->starts[m], id)) < 0) {
            ++m;
            if (StopAfterStep(&pacer))
                return false;
        }
        count += order == 0 ? 0 : 1;
        if (StopAfterStep(&pacer))
            return false;
    }
    *fresh = count;
    return true;
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

SeenEntry* CopySeenBaselines(const SeenEntry* entries, int32_t count) {
    SeenEntry* copies = static_cast<SeenEntry*>(calloc(count > 0 ? count : 1, sizeof(SeenEntry)));
    if (!copies)
        return nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const SeenEntry& entry = entries[i];
        SeenEntry& copy = copies[i];
        memcpy(copy.key, entry.key, sizeof copy.key);
        copy.pop = entry.pop;
        copy.baseline = SeenMark{entry.baseline.known, entry.baseline.validity,
                                 entry.baseline.highest, UidSet{}};
        const UidSet& ids = entry.baseline.uids;
        if (ids.count == 0)
            continue;
        copy.baseline.uids.text = static_cast<char*>(malloc(ids.size));
        copy.baseline.uids.starts = static_cast<uint32_t*>(malloc(ids.count * sizeof(uint32_t)));
        if (!copy.baseline.uids.text || !copy.baseline.uids.starts) {
            FreeSeenEntries(copies, i + 1);
            return nullptr;
        }
        memcpy(copy.baseline.uids.text, ids.text, ids.size);
        memcpy(copy.baseline.uids.starts, ids.starts, ids.count * sizeof(uint32_t));
        copy.baseline.uids.count = ids.count;
        copy.baseline.uids.size = ids.size;
    }
    return copies;
}

void FreeSeenEntries(SeenEntry* entries, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        FreeSeenMark(&entries[i].baseline);
        FreeSeenMark(&entries[i].observed);
    }
    free(entries);
}

SeenFileRead ReadSeenFile(const char* text, size_t length, SeenEntry* entries, int32_t count,
                          size_t* badLine, const StopProbe* stop) {
    StopPacer pacer = StartPacer(stop);
    bool stopped = false;
    size_t at = 0;
    size_t lineNumber = 1;
    const char* line;
    size_t lineLength;
    bool damaged = !NextLine(text, length, &at, &line, &lineLength) ||
                   lineLength != sizeof kFileHead - 1 || memcmp(line, kFileHead, lineLength) != 0;
    while (!damaged && !stopped && NextLine(text, length, &at, &line, &lineLength)) {
        ++lineNumber;
        const char* fields[4];
        size_t lengths[4];
        const size_t fieldCount = SplitFields(line, lineLength, fields, lengths, 4);
        const bool pop = fieldCount == 3 && lengths[0] == 3 && memcmp(fields[0], "pop", 3) == 0;
        const bool imap = fieldCount == 4 && lengths[0] == 4 && memcmp(fields[0], "imap", 4) == 0;
        uint32_t first = 0;
        uint32_t second = 0;
        damaged = !(pop || imap) || lengths[1] == 0 || lengths[1] >= kSeenKeySize ||
                  memchr(fields[1], '\0', lengths[1]) != nullptr ||
                  !ReadDecimal(fields[2], lengths[2], &first) ||
                  (imap && !ReadDecimal(fields[3], lengths[3], &second));
        if (damaged)
            break;
        SeenEntry* entry = FindEntry(entries, count, fields[1], lengths[1], pop);
        SeenMark mark = {true, first, second, UidSet{}};
        if (pop) {
            UidBuilder builder = {};
            for (uint32_t u = 0; u < first && !damaged && !stopped; ++u) {
                ++lineNumber;
                damaged = !NextLine(text, length, &at, &line, &lineLength) ||
                          !IsUid(line, lineLength) ||
                          (entry && !AddUid(&builder, line, lineLength));
                stopped = StopAfterStep(&pacer);
            }
            if (damaged || stopped) {
                FreeUidSet(&builder.set);
                break;
            }
            const UidlRead sorted = FinishUidSet(&builder, &mark.uids, &pacer);
            stopped = sorted == kUidlStopped;
            damaged = sorted == kUidlNoMemory;
            if (damaged || stopped)
                break;
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
    damaged = !stopped && (damaged || text[length - 1] != '\n');
    if (!damaged && !stopped)
        return kSeenFileRead;
    *badLine = lineNumber;
    for (int32_t i = 0; i < count; ++i)
        FreeSeenMark(&entries[i].baseline);
    return stopped ? kSeenFileStopped : kSeenFileDamaged;
}
