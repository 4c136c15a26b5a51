// The install and uninstall procedures and what they share with the window:
// the completion command, the fixed names, and folder resolution.
#ifndef ORLO_SETUP_PROCEDURES_H
#define ORLO_SETUP_PROCEDURES_H

#include "setup/folders.h"

struct InstallerState;

// Completion command: WM_COMMAND with wParam 180 and lParam 127 (failed:
// errorCaption and errorText are filled) or 128 (install succeeded).
const int CMD_PROCEDURE_DONE = 180;
const int DONE_FAILED = 127;
const int DONE_OK = 128;

// The maker's web-site host, named in the error messages.
#define MAKER_WEB_HOST "www.fenmarch.example"

#define PRODUCT_DISPLAY_NAME "Orlo-Cast"
#define PRODUCT_FOLDER "FM\\Orlo-Cast"
#define PRODUCT_PROGRAM_NAME "OrloCast.exe"
#define SHELL_FOLDERS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
#define UNINSTALL_PARENT_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
#define UNINSTALL_KEY_NAME "FM:Orlo-Cast {5C7E2B91-3FA4-4d6e}"
#define PRODUCT_SETTINGS_KEY "Fen March\\Orlo-Cast"
#define AUTOSTART_LINK_NAME "Orlo-Cast (Fenmarch)"

// Stage texts of statusText, in order.
#define STAGE_EXTRACT "Extract Package"
#define STAGE_COPY "Copy Files"
#define STAGE_FINALIZE "Finalize Installation"
#define STAGE_COMPLETED "Installation Completed"

// Forms programsFolder\Fen March\Orlo-Cast in menu (menuSize bytes). 0 when
// the Programs folder is empty or the path does not fit. Whether a link on
// the way may be followed is holdFolder's to judge, by who owns the folder.
int productMenuFolder(const char* programsFolder, char* menu, int menuSize);

// Verifies, descrambles and writes the package's three entries into
// state->targetFolder (only the entry named onlyName when it is not null;
// the others are still verified and their failures count). 0, -1 when the
// resource is missing or can't be loaded, or -100 minus the failed entries.
// An entry of size 0, a name that could leave the target folder, and a
// destination path that does not fit 1024 bytes each count as a failure.
// Descrambles the image in place: once per process.
int extractPackage(InstallerState* state, const char* onlyName);

// Installs the product; runs on the install worker with COM initialised.
// 0, or -1 (package header), -2 (target folder not resolved), -3 (target
// folder not created), -10 (a package file failed). Posts exactly one
// completion command.
int runInstall(InstallerState* state);

// Removes the product; runs on the window thread. 0, or -1 (package header)
// and -2 (target folder not resolved), which post DONE_FAILED; success
// posts nothing.
int runUninstall(InstallerState* state);

// Deletes each package file from targetFolder by its entry name. Returns 0.
int deletePackageFiles(InstallerState* state);

// Deletes the Startup shortcut and sets the tray settings to 0. Returns the
// result of the last registry write.
int removeAutostart();

#endif
