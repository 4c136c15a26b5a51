// Start-up steps that come before the window.
#ifndef ORLO_APP_STARTUP_H
#define ORLO_APP_STARTUP_H

#define INSTALLER_MUTEX_NAME "Fenmarch OrloCast-Installation- Mutex-{5C7E2B91-3FA4-4d6e-9B28-71D04E6A3C55}"
#define PRODUCT_WINDOW_TITLE "OrloCast"

// Restricts where DLLs are loaded from to the system folder, before any
// other DLL is loaded: a DLL planted beside the installer (a Downloads
// folder) is never picked up. Uses what the running Windows offers.
void restrictDllSearch();

// Sets hiddenMode, autoInstall and autoUninstall from the command line.
void parseSwitches(const char* commandLine);

// Posts WM_DESTROY to every top-level window titled exactly title.
void closeRunningProduct(const char* title);

#endif
