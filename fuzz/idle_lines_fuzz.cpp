// What a server sends while idling, as the idle dialogue reads it: the
// stream arrives in receives whose sizes the input chooses, each appended to
// the bytes kept from before, and the reader is asked again until it has no
// more to say. Every answer (a change, talking on) must name the line a plain
// reading of the whole stream names, the bytes it uses up must be the stream
// itself, in order, none lost or twice, and what is kept at the end must be
// the partial last line. Each text the reader sees is a block of its own
// size, so a look past it is an ASan report.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <utility>
#include <vector>

#include "mail/idle_lines.h"

namespace {

// "* ", a number, a space, then EXISTS, EXPUNGE, FETCH or RECENT in any case,
// followed by the line's end, a space, "(" or CR. The line has no LF.
bool PlainChange(const std::string& line) {
    if (line.compare(0, 2, "* ") != 0)
        return false;
    size_t at = 2;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9')
        ++at;
    if (at == 2 || at == line.size() || line[at] != ' ')
        return false;
    ++at;
    for (const char* word : {"EXISTS", "EXPUNGE", "FETCH", "RECENT"}) {
        const size_t length = strlen(word);
        if (line.size() - at < length || strncasecmp(line.data() + at, word, length) != 0)
            continue;
        if (at + length == line.size())
            return true;
        const char next = line[at + length];
        if (next == ' ' || next == '(' || next == '\r')
            return true;
    }
    return false;
}

typedef std::vector<std::pair<IdleNews, size_t>> Answers; // each with the offset past its line

// The plain reading: line by line, with quiet bytes counted from `quiet`.
Answers PlainAnswers(const std::string& stream, size_t quiet, size_t* lastLineEnd) {
    Answers answers;
    size_t start = 0;
    for (size_t end = stream.find('\n'); end != std::string::npos; end = stream.find('\n', start)) {
        if (PlainChange(stream.substr(start, end - start))) {
            answers.emplace_back(kIdleChanged, end + 1);
        } else {
            quiet += end + 1 - start;
            if (quiet > kMaxIdleTalk)
                answers.emplace_back(kIdleTalksOn, end + 1);
        }
        start = end + 1;
    }
    *lastLineEnd = start;
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t mode = input.ConsumeIntegral<uint8_t>();
    // Near the bound: the reader as it is after that many quiet bytes.
    const size_t quiet =
        (mode & 1) ? kMaxIdleTalk - input.ConsumeIntegralInRange<size_t>(0, 512) : 0;
    std::vector<size_t> receives(input.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t& received : receives)
        received = input.ConsumeIntegralInRange<size_t>(1, 255);
    const std::string stream = input.ConsumeRemainingBytesAsString();

    IdleLines lines = StartIdleLines();
    lines.quiet = quiet;
    std::string kept, used;
    Answers answers;
    for (size_t i = 0, at = 0; at < stream.size(); ++i) {
        size_t received = receives.empty() ? stream.size() : receives[i % receives.size()];
        received = received < stream.size() - at ? received : stream.size() - at;
        kept.append(stream, at, received);
        at += received;
        for (;;) {
            char* text = static_cast<char*>(malloc(kept.size()));
            memcpy(text, kept.data(), kept.size());
            size_t whole = kept.size() + 1;
            const IdleNews news = ReadIdleLines(&lines, text, kept.size(), &whole);
            free(text);
            if (whole > kept.size() || lines.scanned > kept.size() - whole)
                abort();
            used.append(kept, 0, whole);
            kept.erase(0, whole);
            if (news == kIdleNoNews)
                break;
            answers.emplace_back(news, used.size());
        }
    }

    size_t lastLineEnd = 0;
    if (answers != PlainAnswers(stream, quiet, &lastLineEnd))
        abort();
    if (used != stream.substr(0, lastLineEnd) || kept != stream.substr(lastLineEnd))
        abort();
    return 0;
}
