// The install procedure.
#include <windows.h>

#include "app/installer_state.h"
#include "package/package.h"
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "setup/procedures.h"

namespace {

const int TEXT_SIZE = 1024;

const char* const MESSAGE_CORRUPTED =
    "Installation package might be corrupted\nthanks to download official package at\n%s.";
const char* const MESSAGE_TARGET_FOLDER =
    "Failed to create target folder on system disk\nthanks to download official package at\n%s.";
const char* const MESSAGE_COPY_FAILED =
    "Failed to copy file(s) to destination folder...\nInstallation package might be corrupted\n"
    "thanks to download official package at\n%s.";

int failInstall(InstallerState* state, int result, const char* message) {
    textFormat(state->errorText, sizeof state->errorText, message, MAKER_WEB_HOST);
    PostMessageA(state->window, WM_COMMAND, CMD_PROCEDURE_DONE, DONE_FAILED);
    return result;
}

// "Readme" and "OrloCast" in the Start-menu folder programs\Fen March\Orlo-Cast.
// Skipped when the folder text is empty, does not fit, or can't be created.
void createStartMenuShortcuts(InstallerState* state, const char* programsFolder) {
    char menu[TEXT_SIZE];
    if (!productMenuFolder(programsFolder, menu, TEXT_SIZE)) return;
    if (createFolderChain(menu) != 1) return;

    char target[TEXT_SIZE];
    if (textCopy(target, TEXT_SIZE, state->targetFolder) && joinPath(target, TEXT_SIZE, "readme.txt"))
        createShortcut(target, menu, "Readme", 0);
    if (textCopy(target, TEXT_SIZE, state->targetFolder) && joinPath(target, TEXT_SIZE, PRODUCT_PROGRAM_NAME))
        createShortcut(target, menu, "OrloCast", 0);
}

}  // namespace

int runInstall(InstallerState* state) {
    textFormat(state->errorCaption, sizeof state->errorCaption, "%s Installation Error", PRODUCT_DISPLAY_NAME);
    setStatusText(state, STAGE_EXTRACT);
    if (readPackageHeader(state) != 0) return failInstall(state, -1, MESSAGE_CORRUPTED);

    setStatusText(state, STAGE_COPY);
    if (resolveTargetFolder(state, PRODUCT_FOLDER) != 0) return failInstall(state, -2, MESSAGE_TARGET_FOLDER);
    if (createFolderChain(state->targetFolder) != 1) return failInstall(state, -3, MESSAGE_TARGET_FOLDER);
    if (extractPackage(state, 0) != 0) return failInstall(state, -10, MESSAGE_COPY_FAILED);

    setStatusText(state, STAGE_FINALIZE);
    char programs[TEXT_SIZE];
    if (readUserString(SHELL_FOLDERS_KEY, "Programs", programs, TEXT_SIZE) == 1)
        createStartMenuShortcuts(state, programs);
    createStartMenuShortcuts(state, getCommonProgramsFolder());

    // The installer copies itself beside the product to serve as its
    // uninstaller. The uninstall entry is written only for a copy that
    // exists, so the programs list never offers a removal that cannot run.
    char copyPath[TEXT_SIZE];
    if (copyRunningProgram(state->modulePath, state->targetFolder, copyPath, TEXT_SIZE)) {
        char key[TEXT_SIZE];
        // The uninstall command is the copy's path in double quotes: unquoted,
        // a path with blanks ("C:\Program Files\...") could start C:\Program.exe.
        char command[TEXT_SIZE + 2];
        if (textCopy(key, TEXT_SIZE, UNINSTALL_PARENT_KEY) && joinPath(key, TEXT_SIZE, UNINSTALL_KEY_NAME) &&
            textFormat(command, sizeof command, "\"%s\"", copyPath)) {
            writeMachineString(key, "DisplayName", "Orlo-Cast, Broadcast Stream Server");
            writeMachineString(key, "Publisher", "Fenmarch Software");
            writeMachineString(key, "UninstallString", command);
        }
    }

    setStatusText(state, STAGE_COMPLETED);
    PostMessageA(state->window, WM_COMMAND, CMD_PROCEDURE_DONE, DONE_OK);
    return 0;
}
