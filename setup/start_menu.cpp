// The product's Start-menu folder under a Programs folder.
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "setup/procedures.h"

int productMenuFolder(const char* programsFolder, char* menu, int menuSize) {
    if (programsFolder[0] == 0 || !textCopy(menu, menuSize, programsFolder)) return 0;
    if (!joinPath(menu, menuSize, "Fen March")) return 0;
    if (isFolderLink(menu)) return 0;
    if (!joinPath(menu, menuSize, "Orlo-Cast")) return 0;
    return isFolderLink(menu) ? 0 : 1;
}
