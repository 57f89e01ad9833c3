// The page around the game: starts it, shows what it says when it cannot
// start, says so when it has ended, and offers full screen (or, where a
// page has none, the home screen).
'use strict';

(() => {
  const canvas = document.getElementById('screen');
  const message = document.getElementById('message');
  const messageText = document.getElementById('message-text');
  const again = document.getElementById('again');
  const lines = []; // what the game wrote, for a failed start
  let shown = false;

  function show(text, failed) {
    if (shown) return;
    shown = true;
    messageText.textContent = text;
    message.classList.toggle('failed', failed);
    message.hidden = false;
    again.textContent = failed ? 'Try again' : 'Play again';
    again.hidden = false;
    again.focus();
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  }

  // A failed start or a broken page shows the reason in plain view; the
  // console gets it too.
  function fail(text) {
    console.error(text);
    show(text, true);
  }

  again.addEventListener('click', () => location.reload());

  // The game ends through exit(): 0 when the player quit, its own status
  // when it could not start, with the lines it wrote.
  function ended(status) {
    if (status === 0) {
      show('The game has ended.', false);
    } else {
      const said = lines.filter((l) => !/^(SDL_Quit|TTF_Quit)/.test(l)).join('\n');
      fail((said || 'Quorvane could not start.') + '\n(exit status ' + status + ')');
    }
  }

  // The game's exit() unwinds through the page as a thrown ExitStatus, once
  // the page has been told; anything else thrown is the page's own error.
  function thrown(event, what) {
    event.preventDefault();
    if (what && what.name === 'ExitStatus') return;
    fail('Quorvane stopped: ' + String(what?.message || event.message || what || 'an error in the page'));
  }
  window.addEventListener('error', (event) => thrown(event, event.error));
  window.addEventListener('unhandledrejection', (event) => thrown(event, event.reason));

  // Full screen where the browser gives it to a page. An iPhone gives it only
  // to video: there the button tells of what does fill the screen, the site
  // started from the home screen, which opens it without the browser's bars.
  // Started that way, or with no touchscreen (no home screen), there is
  // nothing to offer, and no full screen for Escape to leave.
  const stage = document.getElementById('stage');
  const fullscreen = document.getElementById('fullscreen');
  const homeNote = document.getElementById('home-note');
  const fills = document.fullscreenEnabled && typeof stage.requestFullscreen === 'function';
  if (!fills) {
    document.getElementById('escape-note').hidden = true;
    const standalone = navigator.standalone === true || matchMedia('(display-mode: standalone)').matches;
    fullscreen.hidden = standalone || !matchMedia('(any-pointer: coarse)').matches;
    document.addEventListener('pointerdown', (event) => {
      if (event.target !== fullscreen) homeNote.hidden = true;
    });
  }
  fullscreen.addEventListener('click', (event) => {
    event.currentTarget.blur();
    if (!fills) {
      homeNote.hidden = !homeNote.hidden;
    } else if (document.fullscreenElement) {
      document.exitFullscreen().catch(() => {});
    } else {
      stage.requestFullscreen().then(
        () => {
          // On a phone the picture fills the screen's height held sideways.
          if (document.documentElement.dataset.input === 'touch' && screen.orientation && screen.orientation.lock) {
            screen.orientation.lock('landscape').catch(() => {});
          }
        },
        (e) => console.warn('Full screen refused: ' + e.message),
      );
    }
  });

  // The player's name: remembered by the browser, "player" at first, shown
  // as the game will keep it once the box is left. Enter or Escape give the
  // keys back to the game.
  const nameBox = document.getElementById('name');
  const remembered = (() => {
    try {
      return localStorage.getItem('quorvane.name');
    } catch {
      return null; // storage blocked: the name lasts as long as the page
    }
  })();
  nameBox.value = remembered || 'player';
  function remember() {
    try {
      localStorage.setItem('quorvane.name', nameBox.value);
    } catch {}
  }
  nameBox.addEventListener('input', remember);
  nameBox.addEventListener('change', () => {
    if (window.Module && Module.cleanName && Module.calledRun) nameBox.value = Module.cleanName(nameBox.value);
    remember();
  });
  // On the release, so that the game sees neither the press nor the release.
  nameBox.addEventListener('keyup', (event) => {
    if (event.key === 'Enter' || event.key === 'Escape') nameBox.blur();
  });

  if (typeof WebAssembly !== 'object' || typeof WebAssembly.instantiate !== 'function') {
    fail('Quorvane cannot start: this browser does not run WebAssembly.');
    return;
  }

  // The screen has no see-through pixels: an opaque canvas is cheaper to
  // draw on and to show. The game's SDL takes this same context. Drawn in
  // memory (willReadFrequently) rather than by the GPU: its few copies a
  // frame cost less there than the GPU's round trips, and where an engine
  // draws its GPU canvases with a software GL (WebKitGTK without a GPU) even
  // the bare loop runs faster so.
  canvas.getContext('2d', { alpha: false, willReadFrequently: true });

  window.Module = {
    canvas: canvas,
    print: (text) => {
      console.log(text);
      lines.push(text);
    },
    printErr: (text) => {
      console.error(text);
      lines.push(text);
    },
    onGameEnd: ended,
    onFirstFrame: () => keepOffline(),
    // The game has let go of every key (at blur): so do the touch controls and gamepads.
    onKeysReleased: () => window.quorvaneKeys?.releaseAll(),
    playerName: () => nameBox.value,
    onAbort: (what) => fail('Quorvane stopped: ' + what),
    // The browser holds the music back until the player presses a key or clicks.
    onSoundWaiting: (waiting) => {
      document.getElementById('sound-note').hidden = !waiting;
    },
  };

  // Offline and installable: the service worker keeps every file of the site.
  // It is registered once the game shows, so that its fetching and storing of
  // every file stays out of the way of the start.
  let keepOffline = () => {};
  if ('serviceWorker' in navigator) {
    const updating = !!navigator.serviceWorker.controller;
    keepOffline = () => {
      navigator.serviceWorker
        .register('service-worker.js')
        .catch((e) => console.warn('Quorvane will not play offline: ' + e.message));
    };
    navigator.serviceWorker.addEventListener('controllerchange', () => {
      if (updating) document.getElementById('update-note').hidden = false;
    });
  }

  window.quorvaneUnpack(window.Module, fail);
})();
