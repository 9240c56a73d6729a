// POP3 replies as the check judges them: NUL-terminated server text, tested
// for the positive status and read for the STAT count, against plain
// readings of their rules.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check/seen_state.h"
#include "mail/pop_reply.h"
#include "text/bounded_text.h"

namespace {

bool ReferenceIsOk(const std::string& reply) {
    return reply.size() >= 4 && reply.compare(0, 3, "+OK") == 0 &&
           (reply[3] == ' ' || reply[3] == '\r' || reply[3] == '\n');
}

// The digits right after "+OK ", ended by a space, the line end or the end
// of the text; -1 for none, -2 past the largest int.
int64_t ReferenceStatCount(const std::string& reply) {
    if (reply.compare(0, 4, "+OK ") != 0)
        return -1;
    int64_t count = 0;
    size_t i = 4;
    for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        count = count * 10 + (reply[i] - '0');
        if (count > INT_MAX)
            count = int64_t{INT_MAX} + 1;
    }
    if (i == 4 || (i < reply.size() && reply[i] != ' ' && reply[i] != '\r' && reply[i] != '\n'))
        return -1;
    return count > INT_MAX ? -2 : count;
}

// A UIDL listing read is a set in strcmp's order that holds each of its ids,
// and none of them is new against itself; a state file read is written back
// to a text that reads the same again.
void CheckListingAndSeenFile(const std::string& bytes) {
    UidSet set = {};
    if (ReadUidlListing(bytes.data(), bytes.size(), &set, nullptr) == kUidlRead) {
        for (size_t i = 0; i < set.count; ++i)
            if (!UidSetHolds(&set, set.text + set.starts[i]) ||
                (i > 0 && strcmp(set.text + set.starts[i - 1], set.text + set.starts[i]) > 0))
                abort();
        size_t fresh = 1;
        if (!CountIdsNotIn(&set, &set, nullptr, &fresh) || fresh != 0)
            abort();
    }
    FreeUidSet(&set);
    static SeenEntry entries[2];
    CopyText(entries[0].key, sizeof entries[0].key, "k");
    CopyText(entries[1].key, sizeof entries[1].key, "k");
    entries[1].pop = true;
    size_t badLine = 0;
    if (ReadSeenFile(bytes.data(), bytes.size(), entries, 2, &badLine, nullptr) == kSeenFileRead) {
        size_t length = 0;
        char* written = FormSeenFile(entries, 2, &length);
        SeenEntry again[2] = {entries[0], entries[1]};
        again[0].baseline = SeenMark{};
        again[1].baseline = SeenMark{};
        if (!written || ReadSeenFile(written, length, again, 2, &badLine, nullptr) != kSeenFileRead ||
            again[0].baseline.known != entries[0].baseline.known ||
            again[0].baseline.highest != entries[0].baseline.highest ||
            again[1].baseline.uids.count != entries[1].baseline.uids.count)
            abort();
        free(written);
        FreeSeenMark(&again[0].baseline);
        FreeSeenMark(&again[1].baseline);
    } else if (badLine == 0) {
        abort();
    }
    FreeSeenMark(&entries[0].baseline);
    FreeSeenMark(&entries[1].baseline);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = bytes.c_str();
    bool ok = IsPopOk(bytes.c_str());
    if (ok != ReferenceIsOk(text))
        abort();
    // The check reads a count only from a reply that passed.
    if (ok) {
        int count = -1;
        StatCount stat = ParseStatCount(bytes.c_str(), &count);
        int64_t expected = ReferenceStatCount(text);
        if (stat != (expected == -1 ? kStatNoCount : expected == -2 ? kStatTooLarge : kStatCounted) ||
            (stat == kStatCounted && count != expected) || (stat != kStatCounted && count != -1))
            abort();
    }
    CheckListingAndSeenFile(bytes);
    return 0;
}
