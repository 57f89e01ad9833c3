// Which of the player's inputs is in use: the keyboard, touch or a gamepad.
// Kept on the page's root as data-input ("keys", "touch" or "pad"): the touch
// controls show and the bar's hint speaks of that input alone. A phone or a
// tablet starts on touch, any other browser on keys; a key press, a touch or
// a gamepad then takes over.
'use strict';

(() => {
  const root = document.documentElement;
  const listeners = [];

  function use(mode) {
    if (root.dataset.input === mode) return;
    root.dataset.input = mode;
    for (const f of listeners) f(mode);
  }

  // The primary pointer is a finger where a touchscreen is the input; a
  // laptop with a touchscreen still has the mouse as its primary one. The
  // page's head has chosen so already, before its first paint.
  const device = () => (matchMedia('(pointer: coarse)').matches ? 'touch' : 'keys');
  if (!root.dataset.input) use(device());

  // Only the player's own keys, and not those typed into the page's fields
  // (a phone's on-screen keyboard types into the Name box); the keys that the
  // touch controls and gamepads make are not the player's own (isTrusted).
  document.addEventListener(
    'keydown',
    (event) => {
      if (!event.isTrusted || quorvaneKeyboard.inField(event)) return;
      use('keys');
    },
    true,
  );
  document.addEventListener('touchstart', () => use('touch'), { capture: true, passive: true });

  window.quorvaneInput = {
    use,
    mode: () => root.dataset.input,
    onChange: (f) => listeners.push(f),
    // With a pad gone: back to what the device offers.
    fallBack: () => use(device()),
  };
})();
