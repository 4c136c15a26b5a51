#include "app/switches.h"

void scanSwitches(const char* text, int* hidden, int* install, int* uninstall) {
    if (text == 0 || text[0] == 0 || text[1] == 0) return;
    const char* p = text;
    for (;;) {
        while (*p != 0 && *p != '-') p++;
        if (*p == 0) return;
        const char letter = p[1];
        if (letter == 0) return;
        if (letter == 'h' || letter == 'H') *hidden = 1;
        if (letter == 'u' || letter == 'U') *uninstall = 1;
        if (letter == 'i') *install = 1;
        // Only the first letter after a hyphen counts; the search goes on
        // after it, so in "--i" the second hyphen is the letter and the i
        // that follows has no hyphen of its own.
        p += 2;
    }
}

const char* commandLineArguments(const char* commandLine) {
    const unsigned char* p = (const unsigned char*)commandLine;
    if (*p == '"') {
        for (p++; *p != 0 && *p != '"'; p++) {}
        if (*p == '"') p++;
    } else {
        while (*p > ' ') p++;
    }
    while (*p != 0 && *p <= ' ') p++;
    return (const char*)p;
}
