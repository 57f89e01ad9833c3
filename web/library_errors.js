// The game's error texts. emscripten's SDL 1.2 (library_sdl.js) forgets what
// SDL_SetError is told, and SDL_GetError always says "unknown SDL-emscripten
// error": kept here, so that the game's messages name the reason as on the
// desktop.

mergeInto(LibraryManager.library, {
  $QuorvaneError: {
    text: '',
    buffer: 0,
    set: function (text) {
      QuorvaneError.text = text;
    },
  },
  SDL_SetError__deps: ['$QuorvaneError', '$formatString'],
  SDL_SetError: function (format, varargs) {
    var bytes = formatString(format, varargs);
    QuorvaneError.set(UTF8ArrayToString(bytes, 0));
  },
  SDL_GetError__deps: ['$QuorvaneError'],
  SDL_GetError: function () {
    if (QuorvaneError.buffer) _free(QuorvaneError.buffer);
    QuorvaneError.buffer = allocateUTF8(QuorvaneError.text);
    return QuorvaneError.buffer;
  },
  SDL_ClearError__deps: ['$QuorvaneError'],
  SDL_ClearError: function () {
    QuorvaneError.set('');
  },
});
