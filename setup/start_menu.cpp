// The product's Start-menu folder under a Programs folder.
#include "platform/bounded_text.h"
#include "setup/procedures.h"

int productMenuFolder(const char* programsFolder, char* menu, int menuSize) {
    if (programsFolder[0] == 0 || !textCopy(menu, menuSize, programsFolder)) return 0;
    return joinPath(menu, menuSize, "Fen March") && joinPath(menu, menuSize, "Orlo-Cast");
}
