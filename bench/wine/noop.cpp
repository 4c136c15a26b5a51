// A Win32 GUI program that does nothing: its run time under Wine is the
// start-up floor that the install and removal figures are measured against.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
