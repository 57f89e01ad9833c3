// The music. The track is fetched from its own address as it plays, once the
// game shows, so that the start never waits for it (emscripten would pack it
// with the data set and wait until the whole track could play). A browser
// refuses to start sound before the player has pressed a key or clicked,
// and emscripten's SDL_mixer lets the refusal fly off as an error of the
// page: here the track asked for starts at the first press, and plays from
// there as soon as enough of it has arrived. A track that cannot be had
// leaves the game silent, as on the desktop, with one line in the console
// saying why.

mergeInto(LibraryManager.library, {
  $QuorvaneMusic: {
    waiting: null,
    tracks: [],
    // What the page shows, and its tests read: whether a track waits for the
    // player's first press, or plays, whether it loops, and why it failed.
    state: function () {
      var audio = SDL.music.audio;
      return {
        waiting: QuorvaneMusic.waiting !== null,
        playing: !!audio && !audio.paused,
        loop: !!audio && audio.loop,
        time: audio ? audio.currentTime : 0,
        failed: audio ? audio.quorvaneFailed || null : null,
      };
    },
    wait: function (audio) {
      QuorvaneMusic.waiting = audio;
      if (Module['onSoundWaiting']) Module['onSoundWaiting'](audio !== null);
    },
    start: function (audio) {
      if (audio.quorvaneFailed) return;
      if (QuorvaneMusic.away) {
        QuorvaneMusic.held = audio;
        return;
      }
      audio.play().catch(function (e) {
        // Refused until the player acts; any other refusal is the track's
        // own failure, said once by its error. A refusal can come after a
        // later play() was let through (Firefox refuses a touch as it goes
        // down, allows it as it lifts, and says so in that order): the track
        // plays then, and waits for nothing.
        if (e.name === 'NotAllowedError' && SDL.music.audio === audio && audio.paused && !audio.quorvaneFailed)
          QuorvaneMusic.wait(audio);
      });
    },
    // While the page is out of sight (library_visibility.js) the track holds
    // where it is, and goes on from there once the page is seen again; a
    // track asked for meanwhile starts then.
    away: false,
    held: null,
    hold: function () {
      var audio = SDL.music.audio;
      QuorvaneMusic.away = true;
      if (audio && !audio.paused) {
        QuorvaneMusic.held = audio;
        audio.pause();
      }
    },
    resume: function () {
      var audio = QuorvaneMusic.held;
      QuorvaneMusic.away = false;
      QuorvaneMusic.held = null;
      if (audio && SDL.music.audio === audio) QuorvaneMusic.start(audio);
    },
    // A track on its own address: nothing of it is fetched before the first
    // frame, which it would only slow on a slow link.
    track: function (address) {
      var audio = new Audio();
      audio.preload = 'none';
      audio.addEventListener('error', function () {
        QuorvaneMusic.failed(audio);
      });
      audio.src = address;
      QuorvaneMusic.tracks.push(audio);
      return audio;
    },
    // Once the game shows, each track's opening is fetched: the link is warm
    // and the track's length known at the first press, and a track that
    // cannot be had is said at once. The rest comes as the track plays: a
    // whole track arriving in one burst on a quick link would stall the menu.
    fetchAll: function () {
      QuorvaneMusic.tracks.forEach(function (audio) {
        audio.preload = 'metadata';
      });
    },
    // One line in the console: the address and why, asked of the server
    // again, since a media element tells a missing file from a damaged one
    // by neither code nor message.
    failed: function (audio) {
      if (audio.quorvaneFailed) return;
      var media = audio.error ? audio.error.message || 'media error ' + audio.error.code : 'unknown';
      audio.quorvaneFailed = media;
      if (QuorvaneMusic.waiting === audio) QuorvaneMusic.wait(null);
      fetch(audio.src, { method: 'HEAD', cache: 'no-store' })
        .then(
          function (r) {
            return r.ok
              ? 'the file is damaged or not a track this browser plays (' + media + ')'
              : (r.status + ' ' + r.statusText).trim();
          },
          function (e) {
            return 'it could not be fetched (' + e.message + ')';
          },
        )
        .then(function (reason) {
          audio.quorvaneFailed = reason;
          err('Warning: the music cannot be played; the game goes on in silence: ' + audio.src + ': ' + reason);
        });
    },
    install: function () {
      QuorvaneKeys.onPress.push(function () {
        var audio = QuorvaneMusic.waiting;
        if (audio) QuorvaneMusic.wait(null);
        if (audio && SDL.music.audio === audio) QuorvaneMusic.start(audio);
      });
      QuorvaneFrames.afterFirst.push(QuorvaneMusic.fetchAll);
    },
  },
  $QuorvaneMusic__deps: ['$QuorvaneKeys', '$QuorvaneFrames', '$SDL'],
  $QuorvaneMusic__postset: 'QuorvaneMusic.install(); Module["musicState"] = QuorvaneMusic.state;',

  // A track the data set left on its own address is an audio element of its
  // own; anything else is read from the file system as the library does.
  Mix_LoadMUS__deps: [
    '$QuorvaneMusic',
    '$QuorvaneFiles',
    '$QuorvaneError',
    '$SDL',
    '$PATH_FS',
    'Mix_LoadMUS_RW',
    'SDL_RWFromFile',
    'SDL_FreeRW',
  ],
  Mix_LoadMUS: function (name) {
    var path = UTF8ToString(name);
    var address = QuorvaneFiles.streamed[PATH_FS.resolve(path)];
    if (address !== undefined) {
      SDL.audios.push({ source: path, audio: QuorvaneMusic.track(address) });
      return SDL.audios.length - 1;
    }
    var rw = _SDL_RWFromFile(name, 0);
    if (!rw) {
      err('Warning: the music cannot be played; the game goes on in silence: ' + QuorvaneError.text);
      return 0;
    }
    var id = _Mix_LoadMUS_RW(rw);
    _SDL_FreeRW(rw);
    return id;
  },

  // The library's Mix_OpenAudio makes a Web Audio context, which only sound
  // effects use, and which is slow to make: the music plays through an audio
  // element, and no context is made.
  Mix_OpenAudio__deps: ['$SDL'],
  Mix_OpenAudio: function (frequency, format, channels, chunksize) {
    SDL.allocateChannels(32);
    SDL.mixerFrequency = frequency;
    SDL.mixerFormat = format;
    SDL.mixerNumChannels = channels;
    SDL.mixerChunkSize = chunksize;
    return 0;
  },
  Mix_PlayMusic__deps: ['$QuorvaneMusic', '$SDL'],
  Mix_PlayMusic: function (id, loops) {
    var info = SDL.audios[id];
    if (!info || !info.audio) return -1;
    if (SDL.music.audio && SDL.music.audio !== info.audio) SDL.music.audio.pause();
    var audio = info.audio;
    audio.loop = loops < 0 || loops > 1;
    audio.volume = SDL.music.volume;
    audio.onended = null;
    SDL.music.audio = audio;
    if (QuorvaneMusic.waiting) QuorvaneMusic.wait(null);
    QuorvaneMusic.start(audio);
    return 0;
  },
  Mix_HaltMusic__deps: ['$QuorvaneMusic', '$SDL'],
  Mix_HaltMusic: function () {
    var audio = SDL.music.audio;
    if (audio) {
      audio.pause();
      audio.currentTime = 0;
    }
    SDL.music.audio = null;
    if (QuorvaneMusic.waiting) QuorvaneMusic.wait(null);
    return 0;
  },
});
