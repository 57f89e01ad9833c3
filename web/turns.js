// The page's turns: work that would hold the page's thread for long (the
// start's unpacking and loading) gives the page a turn, for its input and
// its paint, each time it has held the thread for the budget. Loaded by the
// page and put in the game's script too (web/CMakeLists.txt says why).
'use strict';

// biome-ignore lint/correctness/noUnusedVariables: read by the page's other scripts and by the library
var quorvaneTurns = {
  budget: 4, // ms of the page's thread that such work keeps before a turn

  // When work that begins now has had its budget (a performance.now() time).
  due: () => performance.now() + quorvaneTurns.budget,

  // f called in a task of its own, once the page has had its turn. A
  // message, not a timer: a timer set from a timer waits at least 4 ms.
  later: (f) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      channel.port1.close();
      f();
    };
    channel.port2.postMessage(0);
  },

  // The same turn, for async code.
  next: () => new Promise((resolve) => quorvaneTurns.later(resolve)),
};
