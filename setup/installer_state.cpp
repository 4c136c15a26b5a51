#include "setup/installer_state.h"

#include "platform/bounded_text.h"

int hiddenMode = 0;
int autoInstall = 0;
int autoUninstall = 0;

int clearInstallerState(InstallerState* state, HINSTANCE instance) {
    zeroBlock(state, sizeof *state);
    state->instance = instance;
    return 0;
}

namespace {

// Sleep(1), not Sleep(0): the holder may be the below-normal worker, to
// which Sleep(0) would not yield on a single processor.
void takeStatusLock(InstallerState* state) {
    while (InterlockedExchange(&state->statusLock, 1) != 0) Sleep(1);
}

void dropStatusLock(InstallerState* state) { InterlockedExchange(&state->statusLock, 0); }

}  // namespace

void setStatusText(InstallerState* state, const char* text) {
    takeStatusLock(state);
    textCopyCut(state->statusText, STATUS_TEXT_SIZE, text);
    dropStatusLock(state);
}

void copyStatusText(InstallerState* state, char* out, int outSize) {
    takeStatusLock(state);
    textCopyCut(out, outSize, state->statusText);
    dropStatusLock(state);
}
