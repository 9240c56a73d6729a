#pragma once
#include <cstddef>

// Decides, as a client's bytes arrive, whether the head of its HTTP request
// is whole: everything up to and including the empty line (CR LF CR LF) that
// ends it. A head split over many receives, the empty line too, reads the
// same as one that came at once.

// Room for a request head and its terminator: a redirect with a long code fits.
const size_t kRequestHeadRoom = 16 * 1024;

enum RequestHeadScan {
    kRequestHeadPartial, // no empty line yet, and room for more
    kRequestHeadWhole,   // *length bytes, the empty line included, make the head
    kRequestHeadTooLong, // limit bytes came and none of them ended the head
};

// Scans head[0..got) (NUL bytes possible), of which head[0..scanned) was
// scanned before and held no empty line. A head may be at most limit bytes;
// got never exceeds limit.
RequestHeadScan ScanRequestHead(const char* head, size_t got, size_t scanned, size_t limit,
                                size_t* length);
