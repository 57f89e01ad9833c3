// Gamepads, read through the Gamepad API once per animation frame while one
// is connected, by its "standard" layout: the d-pad, and the left stick past
// half its travel, hold the arrows; A (button 0) holds Space. A pad that goes
// lets go of all it held. While a pad is in use the touch controls step aside.
'use strict';

(() => {
  if (!navigator.getGamepads) return;
  const seen = new Set(); // the indices of the pads read in the last frame
  let reading = false;

  function pressed(pad, i) {
    const b = pad.buttons[i];
    return !!b && (b.pressed || b.value > 0.5);
  }

  // Left or right before up or down: the game repeats the key pressed last,
  // and in the menu up and down walk.
  function keysOf(pad) {
    const x = pad.axes[0] || 0,
      y = pad.axes[1] || 0,
      keys = [];
    if (pressed(pad, 14) || x < -0.5) keys.push('ArrowLeft');
    else if (pressed(pad, 15) || x > 0.5) keys.push('ArrowRight');
    if (pressed(pad, 12) || y < -0.5) keys.push('ArrowUp');
    else if (pressed(pad, 13) || y > 0.5) keys.push('ArrowDown');
    if (pressed(pad, 0)) keys.push('Space');
    return keys;
  }

  function read() {
    const now = new Set();
    for (const pad of navigator.getGamepads()) {
      if (!pad?.connected) continue;
      now.add(pad.index);
      const keys = keysOf(pad);
      if (keys.length) quorvaneInput.use('pad');
      quorvaneKeys.hold('pad' + pad.index, keys);
    }
    for (const index of seen) if (!now.has(index)) quorvaneKeys.hold('pad' + index, []);
    const hadPads = seen.size > 0;
    seen.clear();
    for (const i of now) seen.add(i);
    if (seen.size) {
      requestAnimationFrame(read);
    } else {
      reading = false;
      if (hadPads && quorvaneInput.mode() === 'pad') quorvaneInput.fallBack();
    }
  }

  function start() {
    if (!reading) {
      reading = true;
      requestAnimationFrame(read);
    }
  }
  // A pad plugged in before the page loaded or after, once pressed.
  window.addEventListener('gamepadconnected', () => {
    quorvaneInput.use('pad');
    start();
  });
  window.addEventListener('gamepaddisconnected', (event) => {
    if (event.gamepad) quorvaneKeys.hold('pad' + event.gamepad.index, []);
  });
  // No reading at load: a pad shows itself to a page only at its first
  // press, with gamepadconnected, and the first reading of the pads holds
  // the page while the browser starts its gamepad service.
})();
