// The command-line switches: "-h"/"-H" hidden window, "-i" unattended
// install, "-u"/"-U" unattended uninstall. Pure: no platform calls.
#ifndef ORLO_APP_SWITCHES_H
#define ORLO_APP_SWITCHES_H

// Scans text for hyphens; the one character after each is the switch
// letter. Sets *hidden, *install, *uninstall to 1 for the switches found
// and leaves them as they are otherwise.
void scanSwitches(const char* text, int* hidden, int* install, int* uninstall);

// The part of the process's command line that follows the program's own
// name (in double quotes up to the closing one, or up to the first blank)
// and the blanks after it: what a WinMain receives.
const char* commandLineArguments(const char* commandLine);

#endif
