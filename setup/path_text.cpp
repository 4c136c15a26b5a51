// Path-text operations (pure): joining with one backslash, cutting to a
// root, and splitting at the last backslash. Every write stays inside the
// text that is already there, except joinPath, which is bounded by its size.
// Every search for a backslash steps by characters of the ANSI code page, so
// that the second byte of a double-byte character is never taken for one.
#include "platform/bounded_text.h"
#include "setup/folders.h"

namespace {

// A text in UNC form begins with a backslash; its backslashes at positions
// 0, 1 and 2 belong to the "\\server" prefix and do not end the root.
// Returns the position just after the first backslash that counts, or -1.
int rootEnd(const char* path) {
    const int uncForm = path[0] == '\\';
    for (int i = 0; path[i] != 0; i += textCharBytes(path + i)) {
        if (path[i] != '\\') continue;
        if (uncForm && i <= 2) continue;
        return i + 1;
    }
    return -1;
}

}  // namespace

int joinPath(char* folder, int folderSize, const char* name) {
    if (folder == 0 || name == 0 || folderSize <= 0) return 0;
    const int folderLength = textLength(folder, folderSize);
    if (folderLength >= folderSize) return 0;  // not terminated inside its buffer
    const int separator = (folderLength > 0 && textFindLastChar(folder, '\\') == folderLength - 1) ? 0 : 1;
    const int room = folderSize - folderLength - separator;  // bytes left for name and terminator
    if (room <= 0) return 0;
    const int nameLength = textLength(name, room);
    if (nameLength >= room) return 0;
    // Fits whole: only now is anything written.
    if (separator) folder[folderLength] = '\\';
    for (int i = 0; i < nameLength; i++) folder[folderLength + separator + i] = name[i];
    folder[folderLength + separator + nameLength] = 0;
    return 1;
}

int keepRootPrefix(char* path) {
    if (path == 0 || path[0] == 0) return 0;
    const int end = rootEnd(path);
    if (end < 0) return 0;
    path[end] = 0;
    return 1;
}

int keepDriveRoot(char* path) {
    if (path == 0 || path[0] == 0) return 0;
    int stop = rootEnd(path);
    if (stop < 0) stop = textLength(path, 0x7fffffff);
    int rooted = path[0] == '\\' && path[1] == '\\';
    for (int i = 0; i < stop && !rooted; i += textCharBytes(path + i)) {
        if (path[i] == ':') rooted = 1;
    }
    if (!rooted) {
        path[0] = 0;
        return 0;
    }
    path[stop] = 0;
    return 1;
}

void stripLastComponent(char* path) {
    if (path == 0 || path[0] == 0) return;
    const int last = textFindLastChar(path, '\\');
    if (last > 0) {
        path[last] = 0;
    } else if (path[0] == '\\') {
        path[0] = 0;
    }
}

void keepFileName(char* path) {
    if (path == 0) return;
    const int last = textFindLastChar(path, '\\');
    if (last < 0) return;
    const int start = last + 1;
    // Moves forward onto itself: the source always lies after the destination.
    int i = 0;
    for (; path[start + i] != 0; i++) path[i] = path[start + i];
    path[i] = 0;
}
