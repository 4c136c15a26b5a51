// The installer's one record and its three mode flags.
//
// The window thread owns the record. While an install runs, the worker writes
// targetFolder, packageEntries, statusText, errorCaption, errorText,
// workerResult and busy, and reads window, instance and modulePath, which are
// set before it starts. busy is read and written whole (an aligned 32-bit
// value, accessed with interlocked operations); statusText goes through
// setStatusText/copyStatusText so that a reader never sees a torn text.
#ifndef ORLO_SETUP_INSTALLER_STATE_H
#define ORLO_SETUP_INSTALLER_STATE_H

#include <windows.h>

#include "package/package.h"

// Set to 1 only by the switch parser, never reset, not touched by clearing.
extern int hiddenMode;
extern int autoInstall;
extern int autoUninstall;

const int STATUS_TEXT_SIZE = 1024;

struct InstallerState {
    HWND window;
    HINSTANCE instance;
    char modulePath[1024];
    // The program's own file, held open since start-up (holdRunningProgramFile):
    // the source of the installer's copy. 0 when it could not be opened.
    HANDLE programFile;
    UINT_PTR timerId;
    int osClass;
    int alreadyInstalled;
    char targetFolder[1024];
    PackageHeader packageEntries;
    RECT buttonRect;
    int blinkCount;
    HBITMAP backgroundBitmap;
    int bitmapWidth;
    int bitmapHeight;
    HCURSOR handCursor;
    HFONT fontBold;
    HFONT fontLarge;
    // 1 once the picture and fonts above were loaded (needPaintResources).
    int paintResourcesLoaded;
    // COM on the window thread: started by the first link it opens
    // (openStoredLink), ended at the process's end when it succeeded
    // (S_FALSE too, as in the install procedure).
    int comStarted;
    HRESULT comResult;
    HANDLE workerThread;
    volatile LONG busy;
    int workerResult;
    char errorCaption[512];
    char errorText[2048];
    char statusText[STATUS_TEXT_SIZE];
    // Guards statusText between the worker (writer) and the window (reader):
    // a spin flag taken only around a copy of at most 1024 bytes.
    volatile LONG statusLock;
};

// Zeroes the whole record and stores the module instance handle. Returns 0.
int clearInstallerState(InstallerState* state, HINSTANCE instance);

// Replaces statusText as one step for any reader that uses copyStatusText.
void setStatusText(InstallerState* state, const char* text);
// Copies the current statusText whole into out (bounded by outSize).
void copyStatusText(InstallerState* state, char* out, int outSize);

#endif
