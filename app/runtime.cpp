// Where the process starts: the installer has no C runtime. What little the
// compiler asks of one (block copies and fills) is here, written once.
#include <windows.h>

#include "app/switches.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int);

// WinMain gets what the runtime's start-up would give it: the module, and
// the command line less the program's name; its result ends the process.
extern "C" void WINAPI orloEntry() {
    ExitProcess((UINT)WinMain(GetModuleHandleA(0), 0, (LPSTR)commandLineArguments(GetCommandLineA()), SW_SHOWDEFAULT));
}

// Plain loops that the compiler must not turn back into calls to themselves.
extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memcpy(void* destination,
                                                                                      const void* source,
                                                                                      size_t count) {
    unsigned char* d = (unsigned char*)destination;
    const unsigned char* s = (const unsigned char*)source;
    while (count-- != 0) *d++ = *s++;
    return destination;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memset(void* destination, int value,
                                                                                      size_t count) {
    unsigned char* d = (unsigned char*)destination;
    while (count-- != 0) *d++ = (unsigned char)value;
    return destination;
}
