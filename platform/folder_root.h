// Where the root of a folder path ends, for createFolderChain. Pure and
// inline so that it is tested natively as well.
#ifndef ORLO_PLATFORM_FOLDER_ROOT_H
#define ORLO_PLATFORM_FOLDER_ROOT_H

// Index in path (of length characters) of the backslash that ends its root,
// or length when the root is the whole text. The root of C:\dir is C: (the
// backslash at index 2); the root of \\server\share\dir is \\server\share.
// Any other text counts as root up to its first backslash at or after index 2.
inline int folderRootEnd(const char* path, int length) {
    int end = 2;
    while (end < length && path[end] != '\\') end++;
    if (length >= 2 && path[0] == '\\' && path[1] == '\\') {
        // end is the backslash after the server name: the share follows it.
        if (end < length) end++;
        while (end < length && path[end] != '\\') end++;
    }
    return end < length ? end : length;
}

#endif
