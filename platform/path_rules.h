// Pure rules on path texts for the file helpers: where a root ends, whether
// a path is rooted, and whether a listed name is a plain name. Inline, so
// that they are tested natively as well. Every scan steps by characters of
// the ANSI code page (see bounded_text.h).
#ifndef ORLO_PLATFORM_PATH_RULES_H
#define ORLO_PLATFORM_PATH_RULES_H

#include "platform/bounded_text.h"

// Index in path (of length bytes) of the backslash that ends its root, or
// length when the root is the whole text. The root of C:\dir is C: (the
// backslash at index 2); the root of \\server\share\dir is \\server\share.
// Any other text counts as root up to its first backslash after its first
// two characters.
inline int folderRootEnd(const char* path, int length) {
    int end = 0;
    for (int skipped = 0; skipped < 2 && end < length; skipped++) end += textCharBytes(path + end);
    while (end < length && path[end] != '\\') end += textCharBytes(path + end);
    if (length >= 2 && path[0] == '\\' && path[1] == '\\') {
        // end is the backslash after the server name: the share follows it.
        if (end < length) end++;
        while (end < length && path[end] != '\\') end += textCharBytes(path + end);
    }
    return end < length ? end : length;
}

// 1 when path begins at a drive root (D:\) or at a share (\\server\share);
// an empty, relative or drive-relative (D:x) text gives 0, and so do the
// device forms \\.\ and \\?\.
inline int pathIsRooted(const char* path) {
    if (path == 0) return 0;
    const char c = path[0];
    if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':' && path[2] == '\\') return 1;
    if (path[0] != '\\' || path[1] != '\\') return 0;
    int i = 2;
    if (path[i] == 0 || path[i] == '\\' || ((path[i] == '.' || path[i] == '?') && path[i + 1] == '\\')) return 0;
    while (path[i] != 0 && path[i] != '\\') i += textCharBytes(path + i);
    if (path[i] != '\\') return 0;
    i++;
    return path[i] != 0 && path[i] != '\\' ? 1 : 0;
}

// 1 when a name read from a folder listing names an entry of that folder
// and nothing else: not empty, not "." or "..", and free of \ / : * ?. The
// ANSI listing turns characters the code page lacks into "?" and others
// into look-alikes by best fit (a full-width reverse solidus comes back as
// "\", a full-width full stop as "."), so such a name used as a path would
// lead somewhere else.
inline int listedNameIsPlain(const char* name) {
    if (name == 0 || name[0] == 0) return 0;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) return 0;
    for (int i = 0; name[i] != 0; i += textCharBytes(name + i)) {
        const char c = name[i];
        if (c == '\\' || c == '/' || c == ':' || c == '*' || c == '?') return 0;
    }
    return 1;
}

#endif
