// The page around the game: starts it, shows what it says when it cannot
// start, says so when it has ended, and offers full screen.
'use strict';

(function () {
  const canvas = document.getElementById('screen');
  const message = document.getElementById('message');
  const messageText = document.getElementById('message-text');
  const again = document.getElementById('again');
  const lines = [];  // what the game wrote, for a failed start
  let shown = false;

  function show(text, failed) {
    if (shown) return;
    shown = true;
    messageText.textContent = text;
    message.classList.toggle('failed', failed);
    message.hidden = false;
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

  window.addEventListener('error', (event) => {
    fail('Quorvane stopped: ' + (event.message || event.error || 'an error in the page'));
  });
  window.addEventListener('unhandledrejection', (event) => {
    fail('Quorvane stopped: ' + (event.reason && event.reason.message || event.reason));
  });

  document.getElementById('fullscreen').addEventListener('click', (event) => {
    event.currentTarget.blur();
    const stage = document.getElementById('stage');
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(() => {});
    } else if (stage.requestFullscreen) {
      stage.requestFullscreen().catch((e) => console.warn('Full screen refused: ' + e.message));
    }
  });

  if (typeof WebAssembly !== 'object' || typeof WebAssembly.instantiate !== 'function') {
    fail('Quorvane cannot start: this browser does not run WebAssembly.');
    return;
  }

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
    // The game ends through exit(): 0 when the player quit, its own status
    // when it could not start, with the lines it wrote.
    onExit: (status) => {
      if (status === 0) {
        show('The game has ended.', false);
      } else {
        const said = lines.filter((l) => !/^(SDL_Quit|TTF_Quit)/.test(l)).join('\n');
        fail((said || 'Quorvane could not start.') + '\n(exit status ' + status + ')');
      }
    },
    onAbort: (what) => fail('Quorvane stopped: ' + what),
  };

  const script = document.createElement('script');
  script.src = 'quorvane.js';
  script.onerror = () => fail('Quorvane cannot start: quorvane.js could not be loaded.');
  document.body.appendChild(script);
})();
