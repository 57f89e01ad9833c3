// The page's own controls (touch, gamepads) turned into the game's keys. Each
// holder (a finger, a pad) says which keys it holds; a key goes down when its
// first holder takes it and up when its last lets go, as one press and one
// release of the keyboard's key, so that the game, and its own key repeat,
// take it as they take the keyboard.
'use strict';

(() => {
  const codes = quorvaneKeyboard.codes;
  const names = { Space: ' ', Escape: 'Escape' };
  const holders = new Map(); // holder -> the keys it holds, in the order taken
  const count = new Map(); // key -> how many holders hold it

  function send(type, key) {
    const e = new KeyboardEvent(type, { key: names[key] || key, code: key, bubbles: true, cancelable: true });
    // The game's SDL reads keyCode, which a made event cannot be given otherwise.
    Object.defineProperty(e, 'keyCode', { value: codes[key] });
    Object.defineProperty(e, 'which', { value: codes[key] });
    document.dispatchEvent(e);
  }

  // What a holder holds from now on. Keys let go are released before new
  // ones are pressed: Right then Left would otherwise end with the ship
  // still, the release of Right stopping what the press of Left began. New
  // keys go down in the order given, and the game repeats the last.
  function hold(holder, keys) {
    const before = holders.get(holder) || [];
    for (const key of before) {
      if (keys.includes(key)) continue;
      const n = count.get(key) - 1;
      count.set(key, n);
      if (n === 0) send('keyup', key);
    }
    let last = null;
    for (const key of keys) {
      if (before.includes(key)) continue;
      const n = (count.get(key) || 0) + 1;
      count.set(key, n);
      if (n !== 1) continue;
      last = key;
      send('keydown', key);
    }
    // The game repeats only the key pressed last: an arrow taken while Fire
    // or A is held would end the firing, where a thumb on each control means
    // to steer and fire at once. Space is pressed again after it, and the
    // game, which cannot tell such a press from a repeat, fires on.
    if (last && last !== 'Space' && count.get('Space')) send('keydown', 'Space');
    if (keys.length) holders.set(holder, keys.slice());
    else holders.delete(holder);
  }

  // A key that only taps, as the Quit control does.
  function tap(key) {
    if (count.get(key)) return;
    send('keydown', key);
    send('keyup', key);
  }

  // Every holder lets go: the game calls it as it lets go of every key
  // (Module.onKeysReleased, page.js).
  function releaseAll() {
    for (const holder of [...holders.keys()]) hold(holder, []);
  }

  window.quorvaneKeys = { hold, tap, releaseAll, holds: (holder) => holders.get(holder) || [] };
})();
