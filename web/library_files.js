// The game's files: the data set put in place before main starts, and
// opened as on the desktop. The page fetches and unpacks the data set itself
// (Module.quorvaneData, unpack.js), since the package emscripten makes is
// sent uncompressed; here it is written into the file system, each BMP read
// into its canvas on the way (library_bitmaps.js), and main starts once all
// are in place. A track left on its own address is only named here: it is
// fetched as it plays (library_music.js). When the data cannot be had the
// page says why, and the game never starts.

mergeInto(LibraryManager.library, {
  $QuorvaneFiles: {
    streamed: {}, // the address of each track left out of the package, by path
    install: function () {
      var data = Module['quorvaneData'];
      if (!data) return; // a page without the game's data (the benchmark's bare loop)
      // Once the module's memory is there, which the file system writes through.
      addOnPreRun(function () {
        addRunDependency('quorvane-data');
        data.then(QuorvaneFiles.put, function () {});
      });
    },
    // A budget of files at a time, so that the page answers in between.
    put: function (set) {
      set.streamed.forEach(function (s) {
        QuorvaneFiles.streamed[PATH_FS.resolve(s.path)] = s.address;
      });
      var files = set.files.slice();
      var putSome = function () {
        var until = quorvaneTurns.due();
        while (files.length && performance.now() < until) {
          var path = PATH_FS.resolve(files[0].path);
          FS.mkdirTree(PATH.dirname(path));
          // The file keeps the unpacked bytes as they are, uncopied.
          FS.createPreloadedFile(
            PATH.dirname(path),
            PATH.basename(path),
            files.shift().bytes,
            true,
            true,
            null,
            null,
            false,
            true,
          );
        }
        if (files.length) return quorvaneTurns.later(putSome);
        // The game starts in a turn of its own.
        quorvaneTurns.later(function () {
          removeRunDependency('quorvane-data');
        });
      };
      quorvaneTurns.later(putSome);
    },
  },
  $QuorvaneFiles__deps: ['$FS', '$PATH', '$PATH_FS'],
  $QuorvaneFiles__postset: 'QuorvaneFiles.install();',

  // The library hands out a handle for any name, found or not, and once every
  // handle is closed it hands out 0, which C reads as NULL: a failed open.
  // $QuorvaneFiles unused here: what opens the game's files pulls in the
  // setting of them in place (its __postset).
  SDL_RWFromFile__deps: ['$QuorvaneError', '$QuorvaneFiles', '$FS', '$PATH_FS', '$Browser', '$SDL'],
  SDL_RWFromFile: function (name, mode) {
    var path = UTF8ToString(name);
    var found = FS.analyzePath(PATH_FS.resolve(path));
    if (!found.exists || found.object.isFolder) {
      QuorvaneError.set("Couldn't open " + path);
      return 0;
    }
    if (SDL.rwops.length === 0) SDL.rwops.push(null);
    SDL.rwops.push({ filename: path, mimetype: Browser.getMimetype(path) });
    return SDL.rwops.length - 1;
  },
  SDL_FreeRW__deps: ['$SDL'],
  SDL_FreeRW: function (id) {
    SDL.rwops[id] = null;
    while (SDL.rwops.length > 1 && SDL.rwops[SDL.rwops.length - 1] === null) SDL.rwops.pop();
  },
});
