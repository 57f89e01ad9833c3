// What the page's scripts and the game's library (library_keys.js) both know
// of the keyboard: the key codes the game reads, the keys that would scroll
// the page, and which keys are typed into the page's own fields. Loaded by
// the page and put in the game's script too (web/CMakeLists.txt says why).
'use strict';

// biome-ignore lint/correctness/noUnusedVariables: read by the page's other scripts and by the library
var quorvaneKeyboard = {
  // The code the game's SDL reads (keyCode) of each key the page stands in
  // for or keeps from scrolling, by its KeyboardEvent.code.
  codes: {
    Escape: 27,
    Space: 32,
    PageUp: 33,
    PageDown: 34,
    End: 35,
    Home: 36,
    ArrowLeft: 37,
    ArrowUp: 38,
    ArrowRight: 39,
    ArrowDown: 40,
  },
  scrolling: ['Space', 'PageUp', 'PageDown', 'End', 'Home', 'ArrowLeft', 'ArrowUp', 'ArrowRight', 'ArrowDown'],

  // Whether the browser scrolls the page at a press of this key.
  scrolls: (keyCode) => quorvaneKeyboard.scrolling.some((key) => quorvaneKeyboard.codes[key] === keyCode),

  // Whether the key was typed into one of the page's fields (the Name box):
  // such keys are the page's, not the game's. A list takes the arrows, Space
  // and letters as a text box does.
  inField: (event) => {
    const t = event.target;
    return !!t && (['INPUT', 'TEXTAREA', 'SELECT'].includes(t.tagName) || !!t.isContentEditable);
  },
};
