// The screen's drawing, kept as a list and given to the canvas once for each
// refresh of the display: the loop draws more than one frame per refresh, and
// only the last can be seen. emscripten's SDL 1.2 fill and copy save and
// restore the whole drawing state and build a colour string and rectangle
// objects at every call, and a frame makes hundreds of them (every star is a
// one-pixel fill): these keep to plain numbers and touch the state only when
// it changes. A fill of the whole screen hides everything before it, so the
// list never holds more than a frame. The list is given to the canvas at once
// before any other surface is drawn on, and at the end.
//
// The frame a refresh will show is drawn as the loop's wait begins, when the
// refresh is due before the next frame can end. Drawn in the refresh itself,
// its work would add to the browser's own there and hold the loop's next
// frame back whenever the two ran past the end of the wait (on a phone's
// slower CPU, most refreshes). A refresh that comes sooner than foreseen
// draws the latest frame itself.

mergeInto(LibraryManager.library, {
  $QuorvaneScreen: {
    ops: [], // per step: its kind, then its numbers (and a copy's source canvas)
    count: 0,
    pixels: null, // the stars' (x, y, colour) for the pixel steps: an Int32Array, made at first use
    used: 0,
    asked: false, // a refresh asked for
    ending: false, // the end of the frame being drawn awaited
    ended: 0, // when the last frame ended (performance.now())
    cycle: 6, // from one frame's end to the next's, ms, smoothed
    shown: 0, // the last refresh's time (requestAnimationFrame's)
    interval: 1000 / 60, // between refreshes, ms, smoothed
    held: [], // canvases of freed surfaces that the list still draws from
    FILL: 0,
    COPY: 1,
    PIXELS: 2,
    // A step, kept for the next refresh.
    add: function (kind, a, b, c, d, e, f, g) {
      var ops = QuorvaneScreen.ops,
        n = QuorvaneScreen.count;
      ops[n] = kind;
      ops[n + 1] = a;
      ops[n + 2] = b;
      ops[n + 3] = c;
      ops[n + 4] = d;
      ops[n + 5] = e;
      ops[n + 6] = f;
      ops[n + 7] = g;
      QuorvaneScreen.count = n + 8;
      if (!QuorvaneScreen.ending) {
        QuorvaneScreen.ending = true;
        queueMicrotask(QuorvaneScreen.frameEnd);
      }
      if (!QuorvaneScreen.asked) {
        QuorvaneScreen.asked = true;
        requestAnimationFrame(QuorvaneScreen.refresh);
      }
    },
    // Run once the game lets go of the thread after drawing: at the start of
    // its wait. The frame is the one the next refresh shows when that refresh
    // is due before the next frame can end, or is overdue.
    frameEnd: function () {
      QuorvaneScreen.ending = false;
      var now = performance.now(),
        cycle = now - QuorvaneScreen.ended;
      QuorvaneScreen.ended = now;
      if (cycle < 50) QuorvaneScreen.cycle += (cycle - QuorvaneScreen.cycle) / 5;
      if (QuorvaneScreen.shown + QuorvaneScreen.interval < now + QuorvaneScreen.cycle + 1) QuorvaneScreen.flush();
    },
    refresh: function (time) {
      QuorvaneScreen.asked = false;
      var since = time - QuorvaneScreen.shown;
      if (since > 4 && since < 50) QuorvaneScreen.interval += (since - QuorvaneScreen.interval) / 10;
      QuorvaneScreen.shown = time;
      QuorvaneScreen.flush();
    },
    drop: function () {
      var ops = QuorvaneScreen.ops;
      for (var i = 1; i < QuorvaneScreen.count; i += 8) ops[i] = 0; // no canvas kept alive
      QuorvaneScreen.count = 0;
      QuorvaneScreen.used = 0;
      while (QuorvaneScreen.held.length) SDL.canvasPool.push(QuorvaneScreen.held.pop());
    },
    // Everything kept, drawn on the screen's canvas now.
    flush: function () {
      if (QuorvaneScreen.count === 0) return;
      var data = SDL.screen && SDL.surfaces[SDL.screen];
      if (!data) return QuorvaneScreen.drop();
      var ops = QuorvaneScreen.ops,
        ctx = data.ctx;
      for (var i = 0; i < QuorvaneScreen.count; i += 8) {
        var kind = ops[i];
        if (kind === QuorvaneScreen.COPY) {
          ctx.drawImage(
            ops[i + 1],
            ops[i + 2],
            ops[i + 3],
            ops[i + 4],
            ops[i + 5],
            ops[i + 6],
            ops[i + 7],
            ops[i + 4],
            ops[i + 5],
          );
        } else if (kind === QuorvaneScreen.FILL) {
          QuorvaneScreen.style(data, ops[i + 1]);
          ctx.fillRect(ops[i + 2], ops[i + 3], ops[i + 4], ops[i + 5]);
        } else {
          QuorvaneScreen.paintPixels(data, ops[i + 1], ops[i + 2]);
        }
      }
      QuorvaneScreen.drop();
    },
    // Whatever reads the screen's canvas (the page, a test) sees the latest
    // frame, as if every step went to the canvas at once.
    readLatest: function (data) {
      data.readsLatest = true;
      var ctx = data.ctx,
        read = ctx.getImageData;
      ctx.getImageData = function (...args) {
        QuorvaneScreen.flush();
        return read.apply(ctx, args);
      };
    },
    style: function (data, colour) {
      if (data.fillColour !== colour) {
        data.ctx.fillStyle = QuorvaneSurface.css(colour);
        data.fillColour = colour;
      }
    },
    // The pixels the game wrote between a lock and its unlock (x, y, and the
    // colour as SDL_MapRGB maps it here: red in the low byte), filled in
    // place. In order, as written; grouped by colour, so that the fill style
    // changes a few times rather than at every pixel, when no pixel comes
    // twice and the order cannot show.
    paintPixels: function (data, at, count) {
      var px = QuorvaneScreen.pixels,
        ctx = data.ctx;
      var seen = QuorvaneSurface.seen(data);
      var colours = [],
        repeated = false;
      for (let i = 0; i < count; i++) {
        var spot = px[at + 3 * i + 1] * data.width + px[at + 3 * i];
        if (seen.marks[spot] === seen.round) repeated = true;
        seen.marks[spot] = seen.round;
        var c = px[at + 3 * i + 2];
        if (colours.indexOf(c) < 0) colours.push(c);
      }
      if (repeated || colours.length > 8) {
        for (let i = 0; i < count; i++) {
          QuorvaneScreen.style(data, px[at + 3 * i + 2]);
          ctx.fillRect(px[at + 3 * i], px[at + 3 * i + 1], 1, 1);
        }
        return;
      }
      // One path of one-pixel squares per colour: one fill each.
      colours.forEach(function (colour) {
        ctx.beginPath();
        for (var i = 0; i < count; i++) {
          if (px[at + 3 * i + 2] === colour) ctx.rect(px[at + 3 * i], px[at + 3 * i + 1], 1, 1);
        }
        QuorvaneScreen.style(data, colour);
        ctx.fill();
      });
    },
  },
  $QuorvaneScreen__deps: ['$QuorvaneSurface', '$SDL'],
  SDL_FillRect__deps: ['$QuorvaneScreen', '$SDL'],
  SDL_FillRect: function (surf, rect, colour) {
    var data = SDL.surfaces[surf];
    var x = 0,
      y = 0,
      w = data.width,
      h = data.height;
    if (rect) {
      x = HEAP32[rect >> 2];
      y = HEAP32[(rect + 4) >> 2];
      w = HEAP32[(rect + 8) >> 2];
      h = HEAP32[(rect + 12) >> 2];
    }
    if (surf === SDL.screen) {
      if (!data.readsLatest) QuorvaneScreen.readLatest(data);
      // Every colour on the screen is opaque.
      if (x <= 0 && y <= 0 && x + w >= data.width && y + h >= data.height) QuorvaneScreen.drop();
      QuorvaneScreen.add(QuorvaneScreen.FILL, colour, x, y, w, h);
    } else {
      QuorvaneScreen.flush();
      QuorvaneScreen.style(data, colour);
      data.ctx.fillRect(x, y, w, h);
    }
    return 0;
  },
  quorvane_fill_pixels__deps: ['$QuorvaneScreen', '$SDL'],
  quorvane_fill_pixels: function (surf, pixels, count) {
    if (surf !== SDL.screen) QuorvaneScreen.flush();
    var need = QuorvaneScreen.used + 3 * count,
      had = QuorvaneScreen.pixels;
    if (!had || need > had.length) {
      var more = new Int32Array(Math.max(need, had ? 2 * had.length : 3 * 1024));
      if (had) more.set(had.subarray(0, QuorvaneScreen.used));
      QuorvaneScreen.pixels = more;
    }
    var at = QuorvaneScreen.used;
    QuorvaneScreen.pixels.set(HEAP32.subarray(pixels >> 2, (pixels >> 2) + 3 * count), at);
    if (surf === SDL.screen) {
      QuorvaneScreen.used = need;
      QuorvaneScreen.add(QuorvaneScreen.PIXELS, at, count);
    } else {
      QuorvaneScreen.paintPixels(SDL.surfaces[surf], at, count);
    }
  },
  SDL_UpperBlit__deps: ['$QuorvaneScreen', '$SDL'],
  SDL_UpperBlit: function (src, srcrect, dst, dstrect) {
    var s = SDL.surfaces[src],
      d = SDL.surfaces[dst];
    // Only the screen is drawn on; any other target keeps the library's way,
    // which also copies the result to its pixel memory.
    if (dst !== SDL.screen || d.clipRect || s.alpha !== 255) {
      QuorvaneScreen.flush();
      return SDL.blitSurface(src, srcrect, dst, dstrect, false);
    }
    var sx = 0,
      sy = 0,
      w = s.width,
      h = s.height;
    if (srcrect) {
      sx = HEAP32[srcrect >> 2];
      sy = HEAP32[(srcrect + 4) >> 2];
      w = HEAP32[(srcrect + 8) >> 2];
      h = HEAP32[(srcrect + 12) >> 2];
    }
    var dx = dstrect ? HEAP32[dstrect >> 2] : 0,
      dy = dstrect ? HEAP32[(dstrect + 4) >> 2] : 0;
    if (w > 0 && h > 0) QuorvaneScreen.add(QuorvaneScreen.COPY, s.canvas, sx, sy, w, h, dx, dy);
    return 0;
  },
  // A surface that goes may be a source of what is kept for the screen: its
  // canvas is kept out of the library's pool, where the next new surface
  // would take it and draw on it, until the list is done with it.
  SDL_FreeSurface__deps: ['$QuorvaneScreen', '$SDL'],
  SDL_FreeSurface: function (surf) {
    if (!surf) return;
    var pooled = SDL.canvasPool.length;
    SDL.freeSurface(surf);
    if (QuorvaneScreen.count > 0 && SDL.canvasPool.length > pooled) QuorvaneScreen.held.push(SDL.canvasPool.pop());
  },
});
