// The start-up steps the preloaded shim timestamps, in the order it reports them.
#pragma once

enum step {
    step_main,         // libraries loaded, main about to run
    step_library,      // the first SDL_Init has returned
    step_video_mode,   // SDL_SetVideoMode has returned
    step_loaded,       // font, audio, images and music loaded (Mix_PlayMusic reached)
    step_flip_called,  // the first frame drawn and waited for: SDL_Flip called
    step_flipped,      // the first SDL_Flip has returned
    step_count
};
