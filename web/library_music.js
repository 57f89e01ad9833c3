// The music. Browsers refuse sound before the player acts, and emscripten's
// SDL_mixer lets the refusal fly off as an error of the page; its loader
// also held the start back until the whole track could play, and its
// Mix_OpenAudio made a Web Audio context the music never uses.
//
// Given to the linker with --js-library: a function here replaces
// the library's one of that name.

mergeInto(LibraryManager.library, {
  // A browser refuses to start sound before the player has pressed a key or
  // clicked (the library lets the refusal fly off as an error of the page).
  // The track asked for then starts at the first press, and plays from there.
  $QuorvaneMusic: {
    waiting: null,
    // What the page shows, and its tests read: whether a track waits for the
    // player's first press, or plays, and whether it loops.
    state: function() {
      var audio = SDL.music.audio;
      return {
        waiting: QuorvaneMusic.waiting !== null,
        playing: !!audio && !audio.paused,
        loop: !!audio && audio.loop,
        time: audio ? audio.currentTime : 0,
      };
    },
    wait: function(audio) {
      QuorvaneMusic.waiting = audio;
      if (Module['onSoundWaiting']) Module['onSoundWaiting'](audio !== null);
    },
    start: function(audio) {
      var played = audio.play();
      if (played && played.catch) {
        played.catch(function(e) {
          if (SDL.music.audio === audio) QuorvaneMusic.wait(audio);
        });
      }
    },
    loader: {
      canHandle: function(name) {
        return /\.(mp3|ogg|wav)$/.test(name);
      },
      handle: function(bytes, name, onload, onerror) {
        var audio = new Audio();
        audio.preload = 'none';
        audio.src = URL.createObjectURL(new Blob([bytes], {type: Browser.getMimetype(name)}));
        Module['preloadedAudios'][name] = audio;
        onload(bytes);
      },
    },
    install: function() {
      QuorvaneKeys.onPress.push(function() {
        var audio = QuorvaneMusic.waiting;
        if (audio) QuorvaneMusic.wait(null);
        if (audio && SDL.music.audio === audio) QuorvaneMusic.start(audio);
      });
    },
  },
  $QuorvaneMusic__deps: ['$QuorvaneKeys', '$Browser'],
  $QuorvaneMusic__postset: 'QuorvaneMusic.install(); Module["musicState"] = QuorvaneMusic.state;' +
      // The library's own loader holds the start back until the browser says
      // the whole track can play through (about half a second here): the
      // track is handed over at once instead, and plays as soon as it can.
      '(Module["preloadPlugins"] = Module["preloadPlugins"] || []).unshift(QuorvaneMusic.loader);',

  // The library's Mix_OpenAudio makes a Web Audio context, which only sound
  // effects use: the music plays through an audio element. Made at start-up,
  // that context held the page's thread for 250 to 450 ms before the first
  // frame in Chromium.
  Mix_OpenAudio__deps: ['$SDL'],
  Mix_OpenAudio: function(frequency, format, channels, chunksize) {
    SDL.allocateChannels(32);
    SDL.mixerFrequency = frequency;
    SDL.mixerFormat = format;
    SDL.mixerNumChannels = channels;
    SDL.mixerChunkSize = chunksize;
    return 0;
  },
  Mix_PlayMusic__deps: ['$QuorvaneMusic'],
  Mix_PlayMusic: function(id, loops) {
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
  Mix_HaltMusic__deps: ['$QuorvaneMusic'],
  Mix_HaltMusic: function() {
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
