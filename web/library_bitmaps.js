// The data set's BMPs, read straight into canvases. emscripten's SDL 1.2
// hands every image to the browser to decode, which is slow, and reads it
// back into the module's memory, which nothing here reads (images go canvas
// to canvas). The data set's BMPs (uncompressed, 24 or 32 bits a pixel) are
// read here instead; any other image goes to the library's loader.

mergeInto(LibraryManager.library, {
  $QuorvaneBitmaps: {
    due: 0, // until when the image loads may keep the thread (performance.now())
    // The BMP read into a new canvas, given to done; null if it is not one
    // of those. A budget of rows at a time, the page having its turns in
    // between: a large image read at once would stall the page.
    canvas: function (bytes, done) {
      var v = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
      if (bytes.length < 54 || v.getUint16(0) !== 0x424d /* "BM" */) return done(null);
      var offset = v.getUint32(10, true),
        header = v.getUint32(14, true);
      var width = v.getInt32(18, true),
        height = v.getInt32(22, true);
      var bits = v.getUint16(28, true),
        compression = v.getUint32(30, true);
      var rows = Math.abs(height),
        step = bits / 8,
        pitch = (width * step + 3) & ~3;
      if (
        header < 40 ||
        width <= 0 ||
        rows === 0 ||
        (bits !== 24 && bits !== 32) ||
        compression !== 0 ||
        offset + pitch * rows > bytes.length
      ) {
        return done(null);
      }
      var canvas = document.createElement('canvas');
      canvas.width = width;
      canvas.height = rows;
      var ctx = canvas.getContext('2d');
      var image = ctx.createImageData(width, rows);
      // A whole pixel at a time, opaque: red in the low byte, as the canvas
      // keeps it in memory on every little-endian machine.
      var px = new Uint32Array(image.data.buffer);
      var y = 0;
      var band = function () {
        for (var until = quorvaneTurns.due(); y < rows && performance.now() < until; ) {
          for (var end = Math.min(rows, y + 16); y < end; y++) {
            var from = offset + (height > 0 ? rows - 1 - y : y) * pitch; // bottom row first unless the height is negative
            for (var x = 0, to = y * width; x < width; x++, from += step, to++) {
              px[to] = 0xff000000 | (bytes[from] << 16) | (bytes[from + 1] << 8) | bytes[from + 2];
            }
          }
        }
        if (y < rows) return quorvaneTurns.later(band);
        ctx.putImageData(image, 0, 0);
        canvas.quorvaneBitmap = true;
        done(canvas);
      };
      band();
    },
    loader: {
      canHandle: function (name) {
        return /\.bmp$/i.test(name);
      },
      handle: function (bytes, name, onload, onerror) {
        QuorvaneBitmaps.canvas(bytes, function (canvas) {
          if (canvas) {
            Module['preloadedImages'][name] = canvas;
            return onload(bytes);
          }
          var other = Module['preloadPlugins'].find(function (plugin) {
            return plugin !== QuorvaneBitmaps.loader && plugin['canHandle'](name);
          });
          if (other) return other['handle'](bytes, name, onload, onerror);
          onerror();
        });
      },
    },
  },
  $QuorvaneBitmaps__postset:
    '(Module["preloadPlugins"] = Module["preloadPlugins"] || []).unshift(QuorvaneBitmaps.loader);',
  // A BMP read above becomes a surface without the trip through the module's
  // memory; anything else goes to the library's loader. The game loads its
  // images one after the other as it starts, each with its colour key and
  // display format: the loading gives the page a turn whenever it has had
  // the thread for the budget.
  SDL_LoadBMP_RW__deps: ['$QuorvaneBitmaps', '$SDL', 'IMG_Load_RW', 'SDL_FreeRW', '$PATH_FS', '$Asyncify'],
  SDL_LoadBMP_RW: function (id, freeSrc) {
    return Asyncify.handleSleep(function (wakeUp) {
      var load = function () {
        var rwops = SDL.rwops[id];
        var name = rwops && rwops.filename !== undefined ? PATH_FS.resolve(rwops.filename) : null;
        var image = name && Module['preloadedImages'][name];
        if (!image || !image.quorvaneBitmap) return wakeUp(_IMG_Load_RW(id, freeSrc));
        var surf = SDL.makeSurface(image.width, image.height, 0, false, 'load:' + name);
        var data = SDL.surfaces[surf];
        data.ctx.globalCompositeOperation = 'copy';
        data.ctx.drawImage(image, 0, 0);
        data.ctx.globalCompositeOperation = 'source-over';
        if (freeSrc) _SDL_FreeRW(id);
        wakeUp(surf);
      };
      if (performance.now() < QuorvaneBitmaps.due) return load();
      quorvaneTurns.later(function () {
        QuorvaneBitmaps.due = quorvaneTurns.due();
        load();
      });
    });
  },
});
