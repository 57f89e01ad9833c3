// A browser's images are canvases, each copied by the browser in one go, its
// see-through pixels tested by nobody: runs would only add copies.
#include "platform/cuts.h"

void cut_image(SDL_Surface*)
{
}

bool blit_cut(SDL_Surface*, int, int, int, int, int, int)
{
    return false;
}
