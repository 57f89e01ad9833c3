// Opening the game's files. emscripten's SDL 1.2 hands out a handle for any
// name, found or not, and once every handle is closed it hands out 0, which C
// reads as NULL: here a missing file fails to open, as on the desktop, with
// the desktop's reason.
//
// Given to the linker with --js-library: a function here replaces
// the library's one of that name.

mergeInto(LibraryManager.library, {
  // The library hands out a handle for any name, found or not, and once every
  // handle is closed it hands out 0, which C reads as NULL: a failed open.
  SDL_RWFromFile__deps: ['$QuorvaneError', '$FS', '$PATH_FS'],
  SDL_RWFromFile: function(name, mode) {
    var path = UTF8ToString(name);
    var found = FS.analyzePath(PATH_FS.resolve(path));
    if (!found.exists || found.object.isFolder) {
      QuorvaneError.set("Couldn't open " + path);
      return 0;
    }
    if (SDL.rwops.length == 0) SDL.rwops.push(null);
    SDL.rwops.push({filename: path, mimetype: Browser.getMimetype(path)});
    return SDL.rwops.length - 1;
  },
  SDL_FreeRW: function(id) {
    SDL.rwops[id] = null;
    while (SDL.rwops.length > 1 && SDL.rwops[SDL.rwops.length - 1] === null) SDL.rwops.pop();
  },
});
