#pragma once
// Every copy into a fixed character array goes through these helpers: they
// always terminate the result and say whether it had to be cut.

#include <cstdarg>
#include <cstddef>

#if defined(__MINGW32__)
#define TIDEWELL_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define TIDEWELL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// Copies text into destination[size]; false when it was cut to size - 1 characters.
bool CopyText(char* destination, size_t size, const char* text);

// printf into destination[size]; false when the result was cut or could not be formatted.
bool FormatText(char* destination, size_t size, const char* format, ...) TIDEWELL_PRINTF(3, 4);
bool FormatTextV(char* destination, size_t size, const char* format, va_list arguments)
    TIDEWELL_PRINTF(3, 0);

// Copies text[length] into destination[size] for a log line or a page: every
// byte outside printable ASCII (a NUL, a line end, UTF-8) becomes '?'. False
// when it was cut to size - 1 characters.
bool CopyPrintable(char* destination, size_t size, const char* text, size_t length);

// Joins the host's root folder, the docklet's relative folder and a file name
// exactly as they come. A path that does not fit is left empty rather than cut,
// so that it can never name some other file; the result then is false.
bool FormFolderPath(char* destination, size_t size, const char* rootFolder,
                    const char* relativeFolder, const char* fileName);

// A file beside path: path up to its last '\\' or '/', then fileName (empty:
// the folder itself, ending with its separator). Empty and false when path
// names no folder or the result does not fit.
bool FormSiblingPath(char* destination, size_t size, const char* path, const char* fileName);

// ASCII comparison without regard to case, as user-given names are compared.
bool EqualsIgnoringCase(const char* left, const char* right);
