// The two web links, kept only in scrambled form; the bytes are generated
// at build time from the plain texts in resources/links.txt.
#include "app/main_window.h"

#include "links.generated.h"
