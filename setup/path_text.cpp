// Path-text operations (pure).
#include "setup/folders.h"
