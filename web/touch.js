// The touch controls of a phone or a tablet: a steering pad, Fire and Quit,
// laid out beside the picture, under it or over its hull panels, wherever the
// picture stays largest, never over the play area between the panels. Each
// finger holds the keys of the control it went down on until it lifts.
'use strict';

(() => {
  const stage = document.getElementById('stage');
  const svg = 'http://www.w3.org/2000/svg';

  function element(tag, attributes, parent) {
    const e =
      tag === 'svg' || tag === 'path' || tag === 'circle'
        ? document.createElementNS(svg, tag)
        : document.createElement(tag);
    for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
    if (parent) parent.appendChild(e);
    return e;
  }

  // Built here rather than in the page: without a touchscreen they stay
  // hidden, and the page has no use for them.
  const controls = element('div', { id: 'touch-controls' });
  const steer = element('div', { id: 'steer', role: 'button', 'aria-label': 'Steer' }, controls);
  const face = element('svg', { viewBox: '-50 -50 100 100', 'aria-hidden': 'true' }, steer);
  element('circle', { class: 'ring', r: 47 }, face);
  const arrows = {};
  for (const [key, turn] of [
    ['ArrowUp', 0],
    ['ArrowRight', 90],
    ['ArrowDown', 180],
    ['ArrowLeft', 270],
  ]) {
    arrows[key] = element(
      'path',
      { class: 'arrow', d: 'M0 -42 L13 -27 L-13 -27 Z', transform: `rotate(${turn})` },
      face,
    );
  }
  const knob = element('circle', { class: 'knob', r: 13 }, face);
  const fire = element('button', { id: 'fire', type: 'button', 'aria-label': 'Fire' }, controls);
  element('span', {}, fire).textContent = 'FIRE';
  const quit = element('button', { id: 'quit', type: 'button', 'aria-label': 'Quit' }, controls);
  element('span', {}, quit).textContent = 'QUIT';
  stage.insertBefore(controls, document.getElementById('message'));

  // ---- Where they go -------------------------------------------------------

  function box(e, x, y, w, h) {
    Object.assign(e.style, { left: x + 'px', top: y + 'px', width: w + 'px', height: h + 'px' });
  }

  // The picture's hull panels are an eighth of its width on each side: the
  // controls may cover them, never what lies between. Beside the picture
  // the controls take a column on each side, under it a row; of the two,
  // the one that leaves the larger picture.
  function place() {
    if (quorvaneInput.mode() !== 'touch') return;
    const W = stage.clientWidth,
      H = stage.clientHeight,
      m = 10;
    const pad = Math.round(Math.max(104, Math.min(150, Math.min(W, H) * 0.34)));
    const shot = Math.round(pad * 0.6),
      quitSize = 48,
      room = pad + 2 * m;
    const beside = Math.min(W, (H * 4) / 3, ((W - 2 * room) * 4) / 3);
    const under = Math.min(W, ((H - room) * 4) / 3);
    let cw, ch, cx, cy;
    if (beside >= under) {
      cw = Math.floor(beside);
      ch = Math.floor((cw * 3) / 4);
      cx = Math.floor((W - cw) / 2);
      cy = Math.floor((H - ch) / 2);
      const side = cx + cw / 8; // from the stage's edge to the play area
      const y = H - m - pad / 2;
      box(steer, side / 2 - pad / 2, y - pad / 2, pad, pad);
      box(fire, W - side / 2 - (shot + 20) / 2, y - (shot + 20) / 2, shot + 20, shot + 20);
      box(quit, W - side / 2 - quitSize, m, quitSize * 2, quitSize);
    } else {
      cw = Math.floor(under);
      ch = Math.floor((cw * 3) / 4);
      cx = Math.floor((W - cw) / 2);
      cy = Math.floor((H - room - ch) / 2);
      const y = H - room / 2;
      box(steer, m, y - pad / 2, pad, pad);
      box(fire, W - m - pad / 2 - (shot + 20) / 2, y - (shot + 20) / 2, shot + 20, shot + 20);
      box(quit, W / 2 - quitSize, H - room + m, quitSize * 2, quitSize);
    }
    // On the stage, not the canvas: the game's SDL clears the canvas's own size.
    for (const [k, v] of Object.entries({ x: cx, y: cy, w: cw, h: ch }))
      stage.style.setProperty('--picture-' + k, v + 'px');
    stage.dataset.placed = '';
  }
  new ResizeObserver(place).observe(stage);
  quorvaneInput.onChange(() => {
    release();
    place();
  });
  place();

  // ---- What the fingers hold -----------------------------------------------

  const fingers = new Map(); // a touch's identifier -> the control it went down on

  // Eight directions around the pad's centre, a diagonal holding two arrows,
  // with a small dead centre. Left or right go down before up or down: the
  // game repeats the key pressed last, and in the menu up and down walk.
  function steering(touch) {
    const r = steer.getBoundingClientRect();
    const dx = touch.clientX - (r.left + r.width / 2),
      dy = touch.clientY - (r.top + r.height / 2);
    const reach = Math.min(1, Math.hypot(dx, dy) / (r.width / 2));
    knob.setAttribute('cx', (dx / Math.max(1, Math.hypot(dx, dy))) * reach * 30);
    knob.setAttribute('cy', (dy / Math.max(1, Math.hypot(dx, dy))) * reach * 30);
    if (Math.hypot(dx, dy) < r.width * 0.1) return [];
    const sector = (Math.round(Math.atan2(dy, dx) / (Math.PI / 4)) + 8) % 8;
    return [
      ['ArrowRight'],
      ['ArrowRight', 'ArrowDown'],
      ['ArrowDown'],
      ['ArrowLeft', 'ArrowDown'],
      ['ArrowLeft'],
      ['ArrowLeft', 'ArrowUp'],
      ['ArrowUp'],
      ['ArrowRight', 'ArrowUp'],
    ][sector];
  }

  // The pressed state: the arrows held by any finger lit, Fire lit while held.
  function show() {
    const held = new Set();
    let firing = false,
      steered = false;
    for (const [id, control] of fingers) {
      for (const k of quorvaneKeys.holds('touch' + id)) held.add(k);
      if (control === fire) firing = true;
      if (control === steer) steered = true;
    }
    for (const [key, arrow] of Object.entries(arrows)) arrow.classList.toggle('held', held.has(key));
    fire.classList.toggle('held', firing);
    steer.classList.toggle('held', steered);
    if (!steered) {
      knob.setAttribute('cx', 0);
      knob.setAttribute('cy', 0);
    }
  }

  function release() {
    for (const id of fingers.keys()) quorvaneKeys.hold('touch' + id, []);
    fingers.clear();
    show();
  }

  // Touches on the controls never scroll, zoom, select or open a menu; the
  // events still reach the document, where the music waits for the first.
  controls.addEventListener(
    'touchstart',
    (event) => {
      event.preventDefault();
      const field = document.activeElement;
      if (field && field.tagName === 'INPUT') field.blur(); // the on-screen keyboard goes
      for (const touch of event.changedTouches) {
        const control = [steer, fire, quit].find((c) => c.contains(touch.target));
        if (!control) continue;
        if (navigator.vibrate) navigator.vibrate(12);
        if (control === quit) {
          quorvaneKeys.tap('Escape');
          continue;
        }
        fingers.set(touch.identifier, control);
        quorvaneKeys.hold('touch' + touch.identifier, control === fire ? ['Space'] : steering(touch));
      }
      show();
    },
    { passive: false },
  );

  // A finger that slides steers by where it is now, on the pad or off it.
  controls.addEventListener(
    'touchmove',
    (event) => {
      event.preventDefault();
      for (const touch of event.changedTouches) {
        if (fingers.get(touch.identifier) === steer) quorvaneKeys.hold('touch' + touch.identifier, steering(touch));
      }
      show();
    },
    { passive: false },
  );

  function lifted(event) {
    event.preventDefault();
    for (const touch of event.changedTouches) {
      if (!fingers.has(touch.identifier)) continue;
      quorvaneKeys.hold('touch' + touch.identifier, []);
      fingers.delete(touch.identifier);
    }
    show();
  }
  controls.addEventListener('touchend', lifted, { passive: false });
  controls.addEventListener('touchcancel', lifted, { passive: false });
  // A long press anywhere but the Name box opens no menu.
  document.addEventListener('contextmenu', (event) => {
    if (quorvaneInput.mode() === 'touch' && event.target.tagName !== 'INPUT') event.preventDefault();
  });
})();
