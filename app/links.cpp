// The two web links, kept only in scrambled form. The bytes are generated
// at build time by the host tool orlo-links from the plain texts in the
// CMake cache variables ORLO_PICTURE_LINK and ORLO_COMPLETION_LINK
// (cmake/windows.cmake), so the plain texts never enter the object code.
#include "app/main_window.h"
#include "links.generated.h"
