// The installer's one window: creation, message handling, the button
// action, the install worker, unattended runs, stored links, and the
// painting that the message handling calls.
#ifndef ORLO_APP_MAIN_WINDOW_H
#define ORLO_APP_MAIN_WINDOW_H

#include <windows.h>

#include "setup/installer_state.h"

#define MAIN_WINDOW_CLASS "FMOrlo-Cast0Installer0MainWindow0"
const DWORD MAIN_WINDOW_STYLE = 0x02CB0000;  // caption, system menu, min/max boxes, clip children

// Posted by the window to itself to start an unattended run.
const int CMD_AUTO_RUN = 165;
const int AUTO_RUN_TAG = 101;

const UINT_PTR BLINK_TIMER_ID = 12347;
const UINT BLINK_PERIOD_MS = 500;

// The one installer state of the process.
extern InstallerState installerState;

// Registers the class and creates the window (shown unless hidden). The
// window handle, or 0 after a "Startup Error" box.
HWND createMainWindow(HINSTANCE instance, const char* title);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The action behind the button and the Enter key.
void runButtonAction(InstallerState* state, HWND window);
// Starts the install worker: 0 when started without waiting, -1 when the
// thread could not be created, or the worker's result when wait is 1.
int startInstallWorker(InstallerState* state, int wait);
DWORD WINAPI installWorkerMain(LPVOID state);
// Posts WM_DESTROY to the state's window.
void postDestroy(InstallerState* state);
// Descrambles a stored link into a 512-byte buffer, opens it with the
// shell, and wipes the buffer. Longer links are ignored.
void openStoredLink(InstallerState* state, const unsigned char* stored, int length);

// The two stored links, scrambled with LINK_SEED (generated at build time).
extern const unsigned char pictureLink[];
extern const int PICTURE_LINK_LENGTH;
extern const unsigned char completionLink[];
extern const int COMPLETION_LINK_LENGTH;

// ---- Painting --------------------------------------------------------------

// loadPaintResources, once, the first time drawing or the picture's size is
// needed: a shown window at its creation, a hidden one only if it is ever
// drawn on or told to act (its creation then loads no picture and no font).
void needPaintResources(InstallerState* state);
void loadPaintResources(InstallerState* state);
int releasePaintResources(InstallerState* state);
void drawBackground(HDC dc, int x, int y, HBITMAP bitmap);
void paintWindow(InstallerState* state, HDC dc);
void drawInfoBand(InstallerState* state, HDC dc);
void drawActionButton(InstallerState* state, HDC dc, int pressed);
void drawBusyBox(InstallerState* state, HDC dc, int showLabel);
// The operating-system line for an OS class code.
const char* osClassText(int osClass);

#endif
