// What emscripten's own SDL 1.2, SDL_mixer and SDL_ttf (JavaScript, in
// library_sdl.js) get wrong or leave out, mended so that the game in a browser
// looks, sounds and answers its keys as on the desktop. Given to the linker
// with --js-library: a function here replaces the library's one of that name.

mergeInto(LibraryManager.library, {
  // ---- Errors ---------------------------------------------------------------

  // The library's SDL_SetError forgets what it is told and SDL_GetError always
  // says "unknown SDL-emscripten error": the game's messages name the reason.
  $QuorvaneError: {
    text: '',
    buffer: 0,
    set: function(text) {
      QuorvaneError.text = text;
    },
  },
  SDL_SetError__deps: ['$QuorvaneError', '$formatString'],
  SDL_SetError: function(format, varargs) {
    var bytes = formatString(format, varargs);
    QuorvaneError.set(UTF8ArrayToString(bytes, 0));
  },
  SDL_GetError__deps: ['$QuorvaneError'],
  SDL_GetError: function() {
    if (QuorvaneError.buffer) _free(QuorvaneError.buffer);
    QuorvaneError.buffer = allocateUTF8(QuorvaneError.text);
    return QuorvaneError.buffer;
  },
  SDL_ClearError__deps: ['$QuorvaneError'],
  SDL_ClearError: function() {
    QuorvaneError.set('');
  },

  // ---- Files ----------------------------------------------------------------

  // The library hands out a handle for any name, found or not, and once every
  // handle is closed it hands out 0, which C reads as NULL: a failed open.
  SDL_RWFromFile__deps: ['$QuorvaneError', '$FS', '$PATH_FS'],
  SDL_RWFromFile: function(name, mode) {
    var path = UTF8ToString(name);
    var found = FS.analyzePath(PATH_FS.resolve(path));
    if (!found.exists || found.object.isFolder) {
      QuorvaneError.set("Couldn't open " + path);
      return 0;
    }
    if (SDL.rwops.length == 0) SDL.rwops.push(null);
    SDL.rwops.push({filename: path, mimetype: Browser.getMimetype(path)});
    return SDL.rwops.length - 1;
  },
  SDL_FreeRW: function(id) {
    SDL.rwops[id] = null;
    while (SDL.rwops.length > 1 && SDL.rwops[SDL.rwops.length - 1] === null) SDL.rwops.pop();
  },

  // ---- Surfaces -------------------------------------------------------------

  // Every surface here is a canvas of 32-bit pixels. The library's colour key
  // does nothing; on the desktop a keyed image loses every pixel whose colour
  // comes out as the key's in its 16-bit screen format. The same pixels are
  // made see-through here, once, so that a copy skips them as a keyed blit
  // does.
  $QuorvaneSurface: {
    styles: {},
    // A mapped colour (red in the low byte) as a canvas fill style.
    css: function(colour) {
      var style = QuorvaneSurface.styles[colour];
      if (style === undefined) {
        var hex = function(v) {
          return (0x100 | (v & 0xff)).toString(16).slice(1);
        };
        style = '#' + hex(colour) + hex(colour >> 8) + hex(colour >> 16);
        QuorvaneSurface.styles[colour] = style;
      }
      return style;
    },
    // A mark per pixel of the surface, and the number of the current batch.
    seen: function(data) {
      if (!data.seen || data.seen.marks.length != data.width * data.height) {
        data.seen = {marks: new Uint32Array(data.width * data.height), round: 0};
      }
      data.seen.round++;
      return data.seen;
    },
    rgb565: function(r, g, b) {
      return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    },
    // A canvas with its own 2D context: one told that it has no see-through
    // pixels lets the browser copy it without blending.
    canvas: function(width, height, opaque) {
      var canvas = document.createElement('canvas');
      canvas.width = width;
      canvas.height = height;
      return {canvas: canvas, ctx: canvas.getContext('2d', {alpha: !opaque})};
    },
    // A new surface of the same size holding the given canvas's picture.
    copy: function(source, opaque, tag) {
      var surf = SDL.makeSurface(source.width, source.height, 0, false, tag);
      var data = SDL.surfaces[surf];
      var made = QuorvaneSurface.canvas(source.width, source.height, opaque);
      // The library gives a freed surface's canvas to the next surface it
      // makes, context and all: an opaque one would leave that image's key
      // colour showing. Ours stay out of its pool; the one it gave goes back.
      SDL.canvasPool.push(data.canvas);
      data.usePageCanvas = true;
      data.canvas = made.canvas;
      data.ctx = made.ctx;
      data.ctx.globalCompositeOperation = 'copy';
      data.ctx.drawImage(source, 0, 0);
      data.ctx.globalCompositeOperation = 'source-over';
      data.opaque = opaque;
      return surf;
    },
  },
  // The library's loader hands every image to the browser to decode, which
  // takes a few hundred milliseconds before the first frame here. The BMPs of
  // the data set (uncompressed, 24 or 32 bits a pixel) are read at once
  // instead, straight into a canvas; anything else goes on to the library's.
  $QuorvaneBitmaps: {
    canvas: function(bytes) {
      var v = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
      if (bytes.length < 54 || v.getUint16(0) != 0x424d /* "BM" */) return null;
      var offset = v.getUint32(10, true), header = v.getUint32(14, true);
      var width = v.getInt32(18, true), height = v.getInt32(22, true);
      var bits = v.getUint16(28, true), compression = v.getUint32(30, true);
      var rows = Math.abs(height), step = bits / 8, pitch = (width * step + 3) & ~3;
      if (header < 40 || width <= 0 || rows == 0 || (bits != 24 && bits != 32) || compression != 0 ||
          offset + pitch * rows > bytes.length) {
        return null;
      }
      var canvas = document.createElement('canvas');
      canvas.width = width;
      canvas.height = rows;
      var ctx = canvas.getContext('2d');
      var image = ctx.createImageData(width, rows);
      // A whole pixel at a time, opaque: red in the low byte, as the canvas
      // keeps it in memory on every little-endian machine.
      var px = new Uint32Array(image.data.buffer);
      for (var y = 0; y < rows; y++) {
        var from = offset + (height > 0 ? rows - 1 - y : y) * pitch;  // bottom row first unless the height is negative
        for (var x = 0, to = y * width; x < width; x++, from += step, to++) {
          px[to] = 0xff000000 | (bytes[from] << 16) | (bytes[from + 1] << 8) | bytes[from + 2];
        }
      }
      ctx.putImageData(image, 0, 0);
      canvas.quorvaneBitmap = true;
      return canvas;
    },
    loader: {
      canHandle: function(name) {
        return /\.bmp$/i.test(name);
      },
      handle: function(bytes, name, onload, onerror) {
        var canvas = QuorvaneBitmaps.canvas(bytes);
        if (canvas) {
          Module['preloadedImages'][name] = canvas;
          return onload(bytes);
        }
        var other = Module['preloadPlugins'].find(function(plugin) {
          return plugin !== QuorvaneBitmaps.loader && plugin['canHandle'](name);
        });
        if (other) return other['handle'](bytes, name, onload, onerror);
        onerror();
      },
    },
  },
  $QuorvaneBitmaps__postset:
      '(Module["preloadPlugins"] = Module["preloadPlugins"] || []).unshift(QuorvaneBitmaps.loader);',
  // The library's loader also reads every image it loads back into the
  // module's memory, which nothing reads here (images go canvas to canvas):
  // the start spent 10 to 30 ms on it. The data set's BMPs, read above, are
  // loaded without; anything else goes to the library's loader.
  SDL_LoadBMP_RW__deps: ['IMG_Load_RW', 'SDL_FreeRW', '$PATH_FS'],
  SDL_LoadBMP_RW: function(id, freeSrc) {
    var rwops = SDL.rwops[id];
    var name = rwops && rwops.filename !== undefined ? PATH_FS.resolve(rwops.filename) : null;
    var image = name && Module['preloadedImages'][name];
    if (!image || !image.quorvaneBitmap) return _IMG_Load_RW(id, freeSrc);
    var surf = SDL.makeSurface(image.width, image.height, 0, false, 'load:' + name);
    var data = SDL.surfaces[surf];
    data.ctx.globalCompositeOperation = 'copy';
    data.ctx.drawImage(image, 0, 0);
    data.ctx.globalCompositeOperation = 'source-over';
    if (freeSrc) _SDL_FreeRW(id);
    return surf;
  },
  // The library's fill and copy save and restore the whole drawing state and
  // build a colour string and rectangle objects at every call; a frame makes
  // hundreds of them (every star is a one-pixel fill). These keep to plain
  // numbers and touch the state only when it changes.
  //
  // What the game draws on the screen is kept as a list and given to the
  // canvas once per refresh of the display, just before it is shown: the loop
  // draws two or three frames per refresh, and the canvas had to take every
  // one of them and paint them all, though only the last could be seen. A fill
  // of the whole screen hides everything before it, so the list never holds
  // more than a frame. The list is given to the canvas at once before any
  // other surface is drawn on, and at the end.
  $QuorvaneScreen: {
    ops: [],  // per step: its kind, then its numbers (and a copy's source canvas)
    count: 0,
    pixels: null,  // the stars' (x, y, colour) for the pixel steps: an Int32Array, made at first use
    used: 0,
    asked: false,
    held: [],  // canvases of freed surfaces that the list still draws from
    FILL: 0,
    COPY: 1,
    PIXELS: 2,
    // A step, kept for the next refresh.
    add: function(kind, a, b, c, d, e, f, g) {
      var ops = QuorvaneScreen.ops, n = QuorvaneScreen.count;
      ops[n] = kind;
      ops[n + 1] = a;
      ops[n + 2] = b;
      ops[n + 3] = c;
      ops[n + 4] = d;
      ops[n + 5] = e;
      ops[n + 6] = f;
      ops[n + 7] = g;
      QuorvaneScreen.count = n + 8;
      if (!QuorvaneScreen.asked) {
        QuorvaneScreen.asked = true;
        requestAnimationFrame(QuorvaneScreen.refresh);
      }
    },
    refresh: function() {
      QuorvaneScreen.asked = false;
      QuorvaneScreen.flush();
    },
    drop: function() {
      var ops = QuorvaneScreen.ops;
      for (var i = 1; i < QuorvaneScreen.count; i += 8) ops[i] = 0;  // no canvas kept alive
      QuorvaneScreen.count = 0;
      QuorvaneScreen.used = 0;
      while (QuorvaneScreen.held.length) SDL.canvasPool.push(QuorvaneScreen.held.pop());
    },
    // Everything kept, drawn on the screen's canvas now.
    flush: function() {
      if (QuorvaneScreen.count == 0) return;
      var data = SDL.screen && SDL.surfaces[SDL.screen];
      if (!data) return QuorvaneScreen.drop();
      var ops = QuorvaneScreen.ops, ctx = data.ctx;
      for (var i = 0; i < QuorvaneScreen.count; i += 8) {
        var kind = ops[i];
        if (kind == QuorvaneScreen.COPY) {
          ctx.drawImage(ops[i + 1], ops[i + 2], ops[i + 3], ops[i + 4], ops[i + 5], ops[i + 6], ops[i + 7],
                        ops[i + 4], ops[i + 5]);
        } else if (kind == QuorvaneScreen.FILL) {
          QuorvaneScreen.style(data, ops[i + 1]);
          ctx.fillRect(ops[i + 2], ops[i + 3], ops[i + 4], ops[i + 5]);
        } else {
          QuorvaneScreen.paintPixels(data, ops[i + 1], ops[i + 2]);
        }
      }
      QuorvaneScreen.drop();
    },
    // Whatever reads the screen's canvas (the page, a test) sees the latest
    // frame, as it did when every step went to the canvas at once.
    readLatest: function(data) {
      data.readsLatest = true;
      var ctx = data.ctx, read = ctx.getImageData;
      ctx.getImageData = function() {
        QuorvaneScreen.flush();
        return read.apply(ctx, arguments);
      };
    },
    style: function(data, colour) {
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
    paintPixels: function(data, at, count) {
      var px = QuorvaneScreen.pixels, ctx = data.ctx;
      var seen = QuorvaneSurface.seen(data);
      var colours = [], repeated = false;
      for (var i = 0; i < count; i++) {
        var spot = px[at + 3 * i + 1] * data.width + px[at + 3 * i];
        if (seen.marks[spot] === seen.round) repeated = true;
        seen.marks[spot] = seen.round;
        var c = px[at + 3 * i + 2];
        if (colours.indexOf(c) < 0) colours.push(c);
      }
      if (repeated || colours.length > 8) {
        for (var i = 0; i < count; i++) {
          QuorvaneScreen.style(data, px[at + 3 * i + 2]);
          ctx.fillRect(px[at + 3 * i], px[at + 3 * i + 1], 1, 1);
        }
        return;
      }
      // One path of one-pixel squares per colour: one fill each.
      colours.forEach(function(colour) {
        ctx.beginPath();
        for (var i = 0; i < count; i++) {
          if (px[at + 3 * i + 2] === colour) ctx.rect(px[at + 3 * i], px[at + 3 * i + 1], 1, 1);
        }
        QuorvaneScreen.style(data, colour);
        ctx.fill();
      });
    },
  },
  SDL_FillRect__deps: ['$QuorvaneSurface', '$QuorvaneScreen'],
  SDL_FillRect: function(surf, rect, colour) {
    var data = SDL.surfaces[surf];
    var x = 0, y = 0, w = data.width, h = data.height;
    if (rect) {
      x = HEAP32[rect >> 2];
      y = HEAP32[(rect + 4) >> 2];
      w = HEAP32[(rect + 8) >> 2];
      h = HEAP32[(rect + 12) >> 2];
    }
    if (surf == SDL.screen) {
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
  quorvane_fill_pixels__deps: ['$QuorvaneSurface', '$QuorvaneScreen'],
  quorvane_fill_pixels: function(surf, pixels, count) {
    if (surf != SDL.screen) QuorvaneScreen.flush();
    var need = QuorvaneScreen.used + 3 * count, had = QuorvaneScreen.pixels;
    if (!had || need > had.length) {
      var more = new Int32Array(Math.max(need, had ? 2 * had.length : 3 * 1024));
      if (had) more.set(had.subarray(0, QuorvaneScreen.used));
      QuorvaneScreen.pixels = more;
    }
    var at = QuorvaneScreen.used;
    QuorvaneScreen.pixels.set(HEAP32.subarray(pixels >> 2, (pixels >> 2) + 3 * count), at);
    if (surf == SDL.screen) {
      QuorvaneScreen.used = need;
      QuorvaneScreen.add(QuorvaneScreen.PIXELS, at, count);
    } else {
      QuorvaneScreen.paintPixels(SDL.surfaces[surf], at, count);
    }
  },
  SDL_UpperBlit__deps: ['$QuorvaneSurface', '$QuorvaneScreen'],
  SDL_UpperBlit: function(src, srcrect, dst, dstrect) {
    var s = SDL.surfaces[src], d = SDL.surfaces[dst];
    // Only the screen is drawn on; any other target keeps the library's way,
    // which also copies the result to its pixel memory.
    if (dst != SDL.screen || d.clipRect || s.alpha != 255) {
      QuorvaneScreen.flush();
      return SDL.blitSurface(src, srcrect, dst, dstrect, false);
    }
    var sx = 0, sy = 0, w = s.width, h = s.height;
    if (srcrect) {
      sx = HEAP32[srcrect >> 2];
      sy = HEAP32[(srcrect + 4) >> 2];
      w = HEAP32[(srcrect + 8) >> 2];
      h = HEAP32[(srcrect + 12) >> 2];
    }
    var dx = dstrect ? HEAP32[dstrect >> 2] : 0, dy = dstrect ? HEAP32[(dstrect + 4) >> 2] : 0;
    if (w > 0 && h > 0) QuorvaneScreen.add(QuorvaneScreen.COPY, s.canvas, sx, sy, w, h, dx, dy);
    return 0;
  },
  // A surface that goes may be a source of what is kept for the screen: its
  // canvas is kept out of the library's pool, where the next new surface
  // would take it and draw on it, until the list is done with it.
  SDL_FreeSurface__deps: ['$QuorvaneScreen'],
  SDL_FreeSurface: function(surf) {
    if (!surf) return;
    var pooled = SDL.canvasPool.length;
    SDL.freeSurface(surf);
    if (QuorvaneScreen.count > 0 && SDL.canvasPool.length > pooled) QuorvaneScreen.held.push(SDL.canvasPool.pop());
  },
  SDL_SetColorKey__deps: ['$QuorvaneSurface', '$QuorvaneScreen'],
  SDL_SetColorKey: function(surf, flag, key) {
    QuorvaneScreen.flush();
    var data = SDL.surfaces[surf];
    if (!data || !(flag & 0x20000 /* this SDL's SDL_SRCCOLORKEY */)) return 0;
    var want = QuorvaneSurface.rgb565(key & 0xff, (key >> 8) & 0xff, (key >> 16) & 0xff);
    var image = data.ctx.getImageData(0, 0, data.width, data.height);
    var px = image.data;
    for (var i = 0; i < px.length; i += 4) {
      if (QuorvaneSurface.rgb565(px[i], px[i + 1], px[i + 2]) == want) px[i + 3] = 0;
    }
    data.ctx.putImageData(image, 0, 0);
    data.keyed = true;
    return 0;
  },
  // Missing from the library. The copy keeps the key's see-through pixels; an
  // image without a key is drawn as opaque.
  SDL_DisplayFormat__deps: ['$QuorvaneSurface', '$QuorvaneBitmaps'],
  SDL_DisplayFormat: function(surf) {
    var data = SDL.surfaces[surf];
    if (!data) return 0;
    return QuorvaneSurface.copy(data.canvas, !data.keyed && !data.text, 'display:' + data.source);
  },

  // ---- Text -----------------------------------------------------------------

  // The library draws every font with the browser's default face, in shades,
  // placed by guesswork. Here the font file is the one given, loaded into the
  // browser as a face of its own, and laid out by the numbers in the file as
  // SDL_ttf lays it out: the same glyph advances, kerning, ascent and height,
  // whole pixels, and bold as SDL_ttf's (each glyph smeared to the right and
  // advanced further). The browser's shaded letters are cut at half cover
  // into one solid colour, as SDL_ttf's Solid rendering gives.
  $QuorvaneFont: {
    faces: {},  // by file name: {family, metrics} once loaded, or the reason it failed
    fonts: [null],
    measure: null,
    u16: function(d, o) {
      return (d[o] << 8) | d[o + 1];
    },
    s16: function(d, o) {
      var v = QuorvaneFont.u16(d, o);
      return v >= 0x8000 ? v - 0x10000 : v;
    },
    u32: function(d, o) {
      return ((d[o] << 24) | (d[o + 1] << 16) | (d[o + 2] << 8) | d[o + 3]) >>> 0;
    },
    // What a layout needs of a TrueType file: units per em, ascender,
    // descender and height, each glyph's advance, the character map and
    // kerning pairs. Throws on a file that is not one.
    parse: function(d) {
      var u16 = QuorvaneFont.u16, s16 = QuorvaneFont.s16, u32 = QuorvaneFont.u32;
      if (d.length < 12) throw 'not a TrueType file';
      var tables = {};
      var count = u16(d, 4);
      for (var i = 0; i < count; i++) {
        var at = 12 + 16 * i;
        if (at + 16 > d.length) throw 'its table directory is cut short';
        var tag = String.fromCharCode(d[at], d[at + 1], d[at + 2], d[at + 3]);
        var offset = u32(d, at + 8), length = u32(d, at + 12);
        if (offset + length > d.length) throw 'its ' + tag.trim() + ' table is cut short';
        tables[tag] = offset;
      }
      ['head', 'hhea', 'hmtx', 'cmap'].forEach(function(t) {
        if (!(t in tables)) throw 'it has no ' + t + ' table';
      });
      var hhea = tables['hhea'];
      var m = {
        upem: u16(d, tables['head'] + 18),
        ascender: s16(d, hhea + 4),
        descender: s16(d, hhea + 6),
        lineGap: s16(d, hhea + 8),
        advances: [],
        glyphOf: {},
        kerning: {},
      };
      var metricCount = u16(d, hhea + 34);
      for (var g = 0; g < metricCount; g++) m.advances.push(u16(d, tables['hmtx'] + 4 * g));
      QuorvaneFont.readCmap(d, tables['cmap'], m.glyphOf);
      if ('kern' in tables) QuorvaneFont.readKern(d, tables['kern'], m.kerning);
      return m;
    },
    // The Unicode subtables, format 4 (the basic plane) and 12 (all of it).
    readCmap: function(d, cmap, glyphOf) {
      var u16 = QuorvaneFont.u16, u32 = QuorvaneFont.u32;
      var count = u16(d, cmap + 2);
      for (var i = 0; i < count; i++) {
        var platform = u16(d, cmap + 4 + 8 * i), encoding = u16(d, cmap + 6 + 8 * i);
        var sub = cmap + u32(d, cmap + 8 + 8 * i);
        var unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
        if (!unicode) continue;
        var format = u16(d, sub);
        if (format == 4) {
          var segments = u16(d, sub + 6) / 2;
          var ends = sub + 14, starts = ends + 2 * segments + 2;
          var deltas = starts + 2 * segments, ranges = deltas + 2 * segments;
          for (var s = 0; s < segments; s++) {
            var start = u16(d, starts + 2 * s), end = u16(d, ends + 2 * s);
            var delta = u16(d, deltas + 2 * s), range = u16(d, ranges + 2 * s);
            for (var c = start; c <= end && c != 0xffff; c++) {
              var glyph = 0;
              if (range == 0) {
                glyph = (c + delta) & 0xffff;
              } else {
                var at = ranges + 2 * s + range + 2 * (c - start);
                glyph = u16(d, at);
                if (glyph != 0) glyph = (glyph + delta) & 0xffff;
              }
              if (glyph != 0 && !(c in glyphOf)) glyphOf[c] = glyph;
            }
          }
        } else if (format == 12) {
          var groups = u32(d, sub + 12);
          for (var k = 0; k < groups; k++) {
            var g0 = sub + 16 + 12 * k;
            var first = u32(d, g0), last = u32(d, g0 + 4), id = u32(d, g0 + 8);
            for (var c2 = first; c2 <= last && c2 - first < 0x10000; c2++) {
              if (!(c2 in glyphOf)) glyphOf[c2] = id + (c2 - first);
            }
          }
        }
      }
    },
    // The classic kern table's horizontal pairs (format 0), as FreeType reads them.
    readKern: function(d, kern, pairs) {
      var u16 = QuorvaneFont.u16, s16 = QuorvaneFont.s16;
      var count = u16(d, kern + 2), at = kern + 4;
      for (var i = 0; i < count; i++) {
        var length = u16(d, at + 2), coverage = u16(d, at + 4);
        if ((coverage >> 8) == 0 && (coverage & 1)) {
          var n = u16(d, at + 6);
          for (var p = 0; p < n; p++) {
            var e = at + 14 + 6 * p;
            pairs[(u16(d, e) << 16) | u16(d, e + 2)] = s16(d, e + 4);
          }
        }
        at += length;
      }
    },
    // FreeType's fixed-point steps, so that sizes round as they do there.
    mulFix: function(a, scale) {
      var v = (Math.abs(a) * scale + 0x8000) / 0x10000;
      return a < 0 ? -Math.floor(v) : Math.floor(v);
    },
    ceil26: function(x) {
      return Math.ceil(x / 64);
    },
    floor26: function(x) {
      return Math.floor(x / 64);
    },
    // One opened font: a face at a size, with SDL_ttf's numbers for it.
    open: function(face, size) {
      var m = face.metrics;
      var scale = Math.round((size * 64 * 0x10000) / m.upem);
      var mul = function(v) {
        return QuorvaneFont.mulFix(v, scale);
      };
      var ascent = QuorvaneFont.ceil26(mul(m.ascender));
      var descent = QuorvaneFont.ceil26(mul(m.descender));
      return {
        face: face,
        size: size,
        css: size + 'px "' + face.family + '"',
        ascent: ascent,
        descent: descent,
        height: ascent - descent + 1,
        lineskip: QuorvaneFont.floor26(mul(m.ascender - m.descender + m.lineGap)),
        scale: scale,
        style: 0,
        overhang: 0,
      };
    },
    setStyle: function(font, style) {
      font.style = style;
      // SDL_ttf's bold: a tenth of the size added to every glyph.
      font.overhang = style & 1 ? Math.floor(font.size / 10) : 0;
    },
    context: function(css) {
      if (!QuorvaneFont.measure) QuorvaneFont.measure = document.createElement('canvas').getContext('2d');
      QuorvaneFont.measure.font = css;
      return QuorvaneFont.measure;
    },
    // Where each character of the text goes, in whole pixels, and how wide
    // the whole is: SDL_ttf's sizing loop, with FreeType's rounding.
    layout: function(font, text) {
      var m = font.face.metrics;
      var ctx = QuorvaneFont.context(font.css);
      var glyphs = [];
      var x = 0, minx = 0, maxx = 0, previous = 0;
      for (var ch of text) {
        var code = ch.codePointAt(0);
        var glyph = m.glyphOf[code] || 0;
        if (previous && glyph) {
          var pair = m.kerning[(previous << 16) | glyph];
          if (pair) {
            var k = QuorvaneFont.mulFix(pair, font.scale);
            if (font.size < 25) k = Math.trunc((k * font.size) / 25);
            x += ((k + 32) & -64) / 64;
          }
        }
        var units = m.advances[Math.min(glyph, m.advances.length - 1)];
        var advance = glyph ? QuorvaneFont.ceil26(((QuorvaneFont.mulFix(units, font.scale) + 32) & -64)) : 0;
        if (!glyph) advance = Math.round(ctx.measureText(ch).width);
        var box = ctx.measureText(ch);
        var left = Math.floor(-box.actualBoundingBoxLeft);
        var right = Math.ceil(box.actualBoundingBoxRight) + font.overhang;
        if (x + left < minx) minx = x + left;
        glyphs.push({text: ch, x: x});
        x += font.overhang;
        var far = x - font.overhang + Math.max(advance, right);
        if (far > maxx) maxx = far;
        x += advance;
        previous = glyph;
      }
      return {glyphs: glyphs, width: maxx, shift: minx < 0 ? -minx : 0};
    },
    // The text drawn in one solid colour on a see-through surface of
    // SDL_ttf's size for it.
    render: function(font, text, colour) {
      var laid = QuorvaneFont.layout(font, text);
      var width = Math.max(laid.width + laid.shift, 1), height = font.height;
      var made = QuorvaneSurface.canvas(width, height, false);
      var ctx = made.ctx;
      ctx.font = font.css;
      ctx.fillStyle = '#fff';
      ctx.textBaseline = 'alphabetic';
      laid.glyphs.forEach(function(g) {
        ctx.fillText(g.text, g.x + laid.shift, font.ascent);
      });
      var image = ctx.getImageData(0, 0, width, height);
      var px = image.data;
      var r = colour & 0xff, gr = (colour >> 8) & 0xff, b = (colour >> 16) & 0xff;
      for (var y = 0; y < height; y++) {
        // Bold: each pixel also lights the overhang's pixels to its right.
        var run = 0;
        for (var x = 0; x < width; x++) {
          var i = 4 * (y * width + x);
          if (px[i + 3] >= 128) run = font.overhang + 1;
          var on = run > 0;
          if (run > 0) run--;
          px[i] = r;
          px[i + 1] = gr;
          px[i + 2] = b;
          px[i + 3] = on ? 255 : 0;
        }
      }
      ctx.putImageData(image, 0, 0);
      var surf = SDL.makeSurface(width, height, 0, false, 'text:' + text);
      var data = SDL.surfaces[surf];
      data.canvas = made.canvas;
      data.ctx = ctx;
      data.text = true;
      return surf;
    },
  },

  TTF_Init: function() {
    return 0;
  },
  TTF_Quit: function() {},
  TTF_WasInit: function() {
    return 1;
  },
  // The file is read from the game's file system and loaded as a face of its
  // own; a damaged one is refused as SDL_ttf refuses it.
  TTF_OpenFont__deps: ['$QuorvaneFont', '$QuorvaneError', '$FS', '$PATH_FS', '$Asyncify'],
  TTF_OpenFont: function(name, size) {
    var path = UTF8ToString(name);
    return Asyncify.handleAsync(async function() {
      var key = PATH_FS.resolve(path);
      if (!(key in QuorvaneFont.faces)) {
        try {
          var bytes = FS.readFile(key);
          var metrics = QuorvaneFont.parse(bytes);
          var family = 'quorvane-font-' + Object.keys(QuorvaneFont.faces).length;
          var face = new FontFace(family, bytes);
          await face.load();
          document.fonts.add(face);
          QuorvaneFont.faces[key] = {family: family, metrics: metrics};
        } catch (e) {
          var missing = e && e.code == 'ENOENT';
          QuorvaneFont.faces[key] = missing ? "Couldn't open " + path : path + ': the file is damaged (' + e + ')';
        }
      }
      var face = QuorvaneFont.faces[key];
      if (typeof face == 'string') {
        QuorvaneError.set(face);
        return 0;
      }
      QuorvaneFont.fonts.push(QuorvaneFont.open(face, size));
      return QuorvaneFont.fonts.length - 1;
    });
  },
  TTF_CloseFont__deps: ['$QuorvaneFont'],
  TTF_CloseFont: function(font) {
    QuorvaneFont.fonts[font] = null;
  },
  TTF_SetFontStyle__deps: ['$QuorvaneFont'],
  TTF_SetFontStyle: function(font, style) {
    QuorvaneFont.setStyle(QuorvaneFont.fonts[font], style);
  },
  TTF_GetFontStyle__deps: ['$QuorvaneFont'],
  TTF_GetFontStyle: function(font) {
    return QuorvaneFont.fonts[font].style;
  },
  TTF_FontHeight__deps: ['$QuorvaneFont'],
  TTF_FontHeight: function(font) {
    return QuorvaneFont.fonts[font].height;
  },
  TTF_FontAscent__deps: ['$QuorvaneFont'],
  TTF_FontAscent: function(font) {
    return QuorvaneFont.fonts[font].ascent;
  },
  TTF_FontDescent__deps: ['$QuorvaneFont'],
  TTF_FontDescent: function(font) {
    return QuorvaneFont.fonts[font].descent;
  },
  TTF_FontLineSkip__deps: ['$QuorvaneFont'],
  TTF_FontLineSkip: function(font) {
    return QuorvaneFont.fonts[font].lineskip;
  },
  TTF_SizeUTF8__deps: ['$QuorvaneFont'],
  TTF_SizeUTF8: function(font, text, w, h) {
    var f = QuorvaneFont.fonts[font];
    var laid = QuorvaneFont.layout(f, UTF8ToString(text));
    if (w) setValue(w, laid.width + laid.shift, 'i32');
    if (h) setValue(h, f.height, 'i32');
    return 0;
  },
  TTF_SizeText: 'TTF_SizeUTF8',
  // A glyph's box from its outline as the browser draws it; a character the
  // font has no glyph for has none.
  TTF_GlyphMetrics__deps: ['$QuorvaneFont', '$QuorvaneError'],
  TTF_GlyphMetrics: function(font, ch, minx, maxx, miny, maxy, advance) {
    var f = QuorvaneFont.fonts[font];
    var glyph = f.face.metrics.glyphOf[ch];
    if (!glyph) {
      QuorvaneError.set("Couldn't find glyph");
      return -1;
    }
    var text = String.fromCodePoint(ch);
    var box = QuorvaneFont.context(f.css).measureText(text);
    var laid = QuorvaneFont.layout(f, text);
    if (minx) setValue(minx, Math.floor(-box.actualBoundingBoxLeft), 'i32');
    if (maxx) setValue(maxx, Math.ceil(box.actualBoundingBoxRight), 'i32');
    if (miny) setValue(miny, Math.floor(-box.actualBoundingBoxDescent), 'i32');
    if (maxy) setValue(maxy, Math.ceil(box.actualBoundingBoxAscent), 'i32');
    if (advance) setValue(advance, laid.width, 'i32');
    return 0;
  },
  TTF_RenderUTF8_Solid__deps: ['$QuorvaneFont', '$QuorvaneError'],
  TTF_RenderUTF8_Solid: function(font, text, colour) {
    var s = UTF8ToString(text);
    if (s.length == 0) {
      QuorvaneError.set('Text has zero width');
      return 0;
    }
    return QuorvaneFont.render(QuorvaneFont.fonts[font], s, getValue(colour, 'i32'));
  },
  TTF_RenderText_Solid: 'TTF_RenderUTF8_Solid',

  // ---- Keys -----------------------------------------------------------------

  // The library's key repeat does nothing, and the browser repeats a held key
  // at the system's own pace. Here the browser's repeats are dropped and SDL
  // 1.2's own repeat is made: the key pressed last, once the delay has passed,
  // then once per interval, checked each time the game polls for events.
  // Keys typed into the page's own fields are the page's, not the game's; the
  // keys that would scroll the page are kept from doing so.
  $QuorvaneKeys: {
    delay: 0,
    interval: 0,
    held: null,  // {event, since, first}
    onPress: [],  // the page's calls at a key press or click, e.g. to start the sound
    scrolling: {32: 1, 33: 1, 34: 1, 35: 1, 36: 1, 37: 1, 38: 1, 39: 1, 40: 1},
    install: function() {
      var receive = function(event) {
        var t = event.target;
        if (t && (t.tagName == 'INPUT' || t.tagName == 'TEXTAREA' || t.tagName == 'SELECT' || t.isContentEditable)) return;
        if (event.keyCode in QuorvaneKeys.scrolling) event.preventDefault();
        if (event.type == 'keydown') {
          QuorvaneKeys.onPress.forEach(function(f) {
            f(event);
          });
          if (event.repeat) return;
          QuorvaneKeys.held = {keyCode: event.keyCode, location: event.location, since: Date.now(), first: true};
        } else if (event.type == 'keyup') {
          if (QuorvaneKeys.held && QuorvaneKeys.held.keyCode == event.keyCode) QuorvaneKeys.held = null;
        }
        SDL.receiveEvent(event);
      };
      document.addEventListener('keydown', receive);
      document.addEventListener('keyup', receive);
      ['mousedown', 'pointerdown', 'touchend'].forEach(function(type) {
        document.addEventListener(type, function(event) {
          QuorvaneKeys.onPress.forEach(function(f) {
            f(event);
          });
        });
      });
      // A key let go while the page had no focus sends no release: release
      // whatever is held, as the desktop does when its window loses focus.
      window.addEventListener('blur', function() {
        QuorvaneKeys.held = null;
        for (var code in SDL.keyboardMap) {
          SDL.events.push({type: 'keyup', keyCode: SDL.keyboardMap[code]});
        }
      });
    },
    check: function() {
      var held = QuorvaneKeys.held;
      if (!held || QuorvaneKeys.delay == 0) return;
      var now = Date.now();
      var waited = now - held.since;
      if (held.first) {
        if (waited > QuorvaneKeys.delay) {
          held.since = now;
          held.first = false;
        }
      } else if (waited > QuorvaneKeys.interval) {
        held.since = now;
        SDL.events.push({type: 'keydown', keyCode: held.keyCode, location: held.location});
      }
    },
  },
  $QuorvaneKeys__postset: 'Module["doNotCaptureKeyboard"] = true; QuorvaneKeys.install();',
  SDL_EnableKeyRepeat__deps: ['$QuorvaneKeys'],
  SDL_EnableKeyRepeat: function(delay, interval) {
    QuorvaneKeys.delay = delay > 0 ? delay : 0;
    QuorvaneKeys.interval = interval > 0 ? interval : 0;
    return 0;
  },
  SDL_PollEvent__deps: ['$QuorvaneKeys'],
  SDL_PollEvent: function(ptr) {
    QuorvaneKeys.check();
    return SDL.pollEvent(ptr);
  },

  // ---- The high-score table's storage ---------------------------------------

  // A tab's files live in its own memory and are gone with it; the table's
  // folder is kept in the site's IndexedDB, one record per file, and brought
  // into the tab's copy before it is read. Writes are made under a lock that
  // every tab of the site respects (Web Locks): the stored folder is brought
  // in again, the game's own code reads, merges and writes the table, and the
  // folder is stored back, in one transaction, before the lock is let go. The
  // lock file and the temporary file stay the tab's own.
  $QuorvaneStore: {
    db: null,
    release: null,
    request: function(r) {
      return new Promise(function(resolve, reject) {
        r.onsuccess = function() {
          resolve(r.result);
        };
        r.onerror = function() {
          reject(r.error);
        };
      });
    },
    open: function() {
      if (!QuorvaneStore.db) {
        // The page may have begun it as it started (index.html), once.
        QuorvaneStore.db = window['quorvaneStoreOpening'] || new Promise(function(resolve, reject) {
          var r = indexedDB.open('quorvane', 1);
          r.onupgradeneeded = function() {
            r.result.createObjectStore('files');
          };
          r.onsuccess = function() {
            resolve(r.result);
          };
          r.onerror = function() {
            reject(r.error);
          };
        });
        window['quorvaneStoreOpening'] = null;
        // Tried again at the next need.
        QuorvaneStore.db.catch(function() {
          QuorvaneStore.db = null;
        });
      }
      return QuorvaneStore.db;
    },
    kept: function(name) {
      return !/\.(lock|tmp)$/.test(name);
    },
    // The tab's copy of the folder: its kept files, by path.
    local: function(dir) {
      var files = {};
      if (!FS.analyzePath(dir).exists) return files;
      FS.readdir(dir).forEach(function(name) {
        var path = dir + '/' + name;
        if (name != '.' && name != '..' && QuorvaneStore.kept(name) && FS.isFile(FS.stat(path).mode)) files[path] = true;
      });
      return files;
    },
    refresh: async function(dir) {
      var db = await QuorvaneStore.open();
      var store = db.transaction('files', 'readonly').objectStore('files');
      var range = IDBKeyRange.bound(dir + '/', dir + '/\uffff');
      var paths = await QuorvaneStore.request(store.getAllKeys(range));
      var records = await QuorvaneStore.request(store.getAll(range));
      var local = QuorvaneStore.local(dir);
      if (paths.length > 0) FS.mkdirTree(dir, 448 /* 0700 */);
      paths.forEach(function(path, i) {
        FS.writeFile(path, records[i].contents);
        FS.chmod(path, 384 /* 0600 */);
        delete local[path];
      });
      Object.keys(local).forEach(function(path) {
        FS.unlink(path);
      });
    },
    keep: async function(dir) {
      var db = await QuorvaneStore.open();
      var tx = db.transaction('files', 'readwrite');
      var done = new Promise(function(resolve, reject) {
        tx.oncomplete = resolve;
        tx.onerror = function() {
          reject(tx.error);
        };
        tx.onabort = function() {
          reject(tx.error || new Error('the write was abandoned'));
        };
      });
      var store = tx.objectStore('files');
      var local = QuorvaneStore.local(dir);
      var paths = await QuorvaneStore.request(store.getAllKeys(IDBKeyRange.bound(dir + '/', dir + '/\uffff')));
      paths.forEach(function(path) {
        if (!local[path]) store.delete(path);
      });
      Object.keys(local).forEach(function(path) {
        store.put({contents: FS.readFile(path)}, path);
      });
      await done;
    },
    lock: function(waitMs) {
      // Without Web Locks (a page not served securely) each tab writes on its own.
      if (!navigator.locks) return Promise.resolve();
      return new Promise(function(resolve, reject) {
        var stop = new AbortController();
        var timer = setTimeout(function() {
          stop.abort();
        }, waitMs);
        navigator.locks
          .request('quorvane-scores', {signal: stop.signal}, function() {
            clearTimeout(timer);
            resolve();
            return new Promise(function(release) {
              QuorvaneStore.release = release;
            });
          })
          .catch(function(e) {
            clearTimeout(timer);
            reject(e && e.name == 'AbortError' ? new Error('another tab of the game held it for ' + waitMs + ' ms') : e);
          });
      });
    },
    unlock: function() {
      if (QuorvaneStore.release) QuorvaneStore.release();
      QuorvaneStore.release = null;
    },
    say: function(reason, size, step, e) {
      if (!reason || !size) return;
      var why = e && e.name && e.message ? e.name + ': ' + e.message : String(e);
      stringToUTF8(step + ' the browser\'s storage (IndexedDB): ' + why, reason, size);
    },
  },
  // Opened while the page loads: the first opening in a new profile takes
  // 100 ms or more, which the start would otherwise wait for (the page begins
  // it sooner still). A failure here is met again, with its reason, when the
  // table is first read.
  $QuorvaneStore__postset: 'QuorvaneStore.open();',
  store_refresh__deps: ['$QuorvaneStore', '$Asyncify', '$FS'],
  store_refresh: function(dir, reason, size) {
    var path = UTF8ToString(dir);
    return Asyncify.handleAsync(async function() {
      try {
        await QuorvaneStore.refresh(path);
        return 0;
      } catch (e) {
        QuorvaneStore.say(reason, size, 'reading', e);
        return -1;
      }
    });
  },
  store_lock__deps: ['$QuorvaneStore', '$Asyncify', '$FS'],
  store_lock: function(dir, waitMs, reason, size) {
    var path = UTF8ToString(dir);
    return Asyncify.handleAsync(async function() {
      try {
        await QuorvaneStore.lock(waitMs);
      } catch (e) {
        QuorvaneStore.say(reason, size, 'locking', e);
        return -1;
      }
      try {
        await QuorvaneStore.refresh(path);
        return 0;
      } catch (e) {
        QuorvaneStore.unlock();
        QuorvaneStore.say(reason, size, 'reading', e);
        return -1;
      }
    });
  },
  store_unlock__deps: ['$QuorvaneStore', '$Asyncify', '$FS'],
  store_unlock: function(dir, keep, reason, size) {
    var path = UTF8ToString(dir);
    return Asyncify.handleAsync(async function() {
      try {
        if (keep) await QuorvaneStore.keep(path);
        return 0;
      } catch (e) {
        QuorvaneStore.say(reason, size, 'storing in', e);
        return -1;
      } finally {
        QuorvaneStore.unlock();
      }
    });
  },

  // The player's name is the page's name box; the page shows it as the
  // game's own rules clean it.
  page_player_name: function(name, size) {
    var typed = Module['playerName'] ? String(Module['playerName']()) : '';
    stringToUTF8(typed, name, size);
  },
  $QuorvaneName__postset: 'Module["cleanName"] = QuorvaneName.clean;',
  $QuorvaneName: {
    clean: function(raw) {
      var text = String(raw), size = lengthBytesUTF8(text) + 1;
      var from = _malloc(size), to = _malloc(80);
      stringToUTF8(text, from, size);
      _clean_player_name(from, to, 80);
      var cleaned = UTF8ToString(to);
      _free(from);
      _free(to);
      return cleaned;
    },
  },
  page_player_name__deps: ['$QuorvaneName'],

  // ---- The end ---------------------------------------------------------------

  // The game's exit(), with its status, told to the page first: emscripten
  // tells the page of an exit only when nothing is pending, and takes the
  // return of a main that sleeps for one.
  exit__deps: ['$QuorvaneScreen'],
  exit: function(status) {
    QuorvaneScreen.flush();  // the last frame stays in view
    if (Module['onGameEnd']) Module['onGameEnd'](status);
    exit(status);
  },

  // ---- Frames ---------------------------------------------------------------

  // The canvas is the screen, and what is drawn on it is shown at the next
  // refresh of the display, so a flip has little to do; the page counts
  // them, for the frame rate.
  $QuorvaneFrames: {
    count: 0,
    first: null,  // when the first frame was shown, in ms from the navigation
  },
  $QuorvaneFrames__postset: 'Module["frameCount"] = function() { return QuorvaneFrames.count; };' +
      'Module["firstFrame"] = function() { return QuorvaneFrames.first; };',
  SDL_Flip__deps: ['$QuorvaneFrames'],
  SDL_Flip: function(surf) {
    if (QuorvaneFrames.count++ == 0) {
      QuorvaneFrames.first = performance.now();
      if (Module['onFirstFrame']) setTimeout(Module['onFirstFrame'], 0);
    }
    return 0;
  },

  // ---- Music ----------------------------------------------------------------

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
