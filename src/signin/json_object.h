#pragma once
#include <cstddef>

// A JSON text (RFC 8259) that must be exactly one object, read strictly: the
// token endpoint's answer, and the payload of an ID token. Its members are
// found by name; strings are read with their escapes undone.

enum JsonKind {
    kJsonString = 0,
    kJsonPrimitive = 1, // a number, true, false or null
    kJsonObject = 2,
    kJsonArray = 3,
};

// A value inside the text: for a string, the bytes between its quotes, escapes still in.
struct JsonValue {
    int kind;  // JsonKind
    int start; // offset of its first byte in the text
    int end;   // offset just after its last byte
};

struct JsonMember {
    JsonValue key;
    JsonValue value;
};

// The most values (keys and nested values included) one text may hold.
const unsigned kMaxJsonValues = 256;
const int kMaxJsonMembers = kMaxJsonValues / 2;

struct JsonObject {
    const char* json; // the text read; not owned, and must outlive the record
    int count;        // members
    JsonMember members[kMaxJsonMembers];
};

// Reads json[length] (NUL bytes possible) as one object of at most maxValues
// values in all (up to kMaxJsonValues). False otherwise, with why[whySize]
// ending a sentence about the text: "is not JSON", "holds a NUL byte",
// "holds too many values", "is not a JSON object", "is not well-formed JSON",
// "is longer than 1 MB" or "has the key \"k\" twice".
bool ReadJsonObject(const char* json, size_t length, unsigned maxValues, JsonObject* out, char* why,
                    size_t whySize);

// The value of the member named name; null when there is none, or it is null.
const JsonValue* FindJsonMember(const JsonObject* object, const char* name);

// A string value with its escapes undone (\u escapes as UTF-8) in out[size],
// always terminated; *length says how many bytes it has, NULs possible.
// False when it did not fit, what fit being kept.
bool UnescapeJsonString(const JsonObject* object, const JsonValue* value, char* out, size_t size,
                        size_t* length);

// Whether a primitive value is written exactly as text ("true", "null").
bool IsJsonPrimitive(const JsonObject* object, const JsonValue* value, const char* text);
