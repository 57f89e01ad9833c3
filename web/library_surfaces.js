// Surfaces, colour keys and the display format. Every surface of
// emscripten's SDL 1.2 is a canvas of 32-bit pixels; its colour key does
// nothing and SDL_DisplayFormat is missing. On the desktop a keyed image
// loses every pixel whose colour comes out as the key's in its 16-bit screen
// format: the same pixels are made see-through here, once, so that a copy
// skips them as a keyed blit does. The display format is a copy on a canvas
// of our own.

mergeInto(LibraryManager.library, {
  $QuorvaneSurface: {
    styles: {},
    // A mapped colour (red in the low byte) as a canvas fill style.
    css: function (colour) {
      var style = QuorvaneSurface.styles[colour];
      if (style === undefined) {
        var hex = function (v) {
          return (0x100 | (v & 0xff)).toString(16).slice(1);
        };
        style = '#' + hex(colour) + hex(colour >> 8) + hex(colour >> 16);
        QuorvaneSurface.styles[colour] = style;
      }
      return style;
    },
    // A mark per pixel of the surface, and the number of the current batch.
    seen: function (data) {
      if (!data.seen || data.seen.marks.length !== data.width * data.height) {
        data.seen = { marks: new Uint32Array(data.width * data.height), round: 0 };
      }
      data.seen.round++;
      return data.seen;
    },
    rgb565: function (r, g, b) {
      return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    },
    // A canvas with its own 2D context: one told that it has no see-through
    // pixels lets the browser copy it without blending.
    canvas: function (width, height, opaque) {
      var canvas = document.createElement('canvas');
      canvas.width = width;
      canvas.height = height;
      return { canvas: canvas, ctx: canvas.getContext('2d', { alpha: !opaque }) };
    },
    // A new surface of the same size holding the given canvas's picture.
    copy: function (source, opaque, tag) {
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
  $QuorvaneSurface__deps: ['$SDL'],
  SDL_SetColorKey__deps: ['$QuorvaneSurface', '$QuorvaneScreen', '$SDL'],
  SDL_SetColorKey: function (surf, flag, key) {
    QuorvaneScreen.flush();
    var data = SDL.surfaces[surf];
    if (!data || !((flag & 0x20000) /* this SDL's SDL_SRCCOLORKEY */)) return 0;
    var want = QuorvaneSurface.rgb565(key & 0xff, (key >> 8) & 0xff, (key >> 16) & 0xff);
    var image = data.ctx.getImageData(0, 0, data.width, data.height);
    var px = image.data;
    for (var i = 0; i < px.length; i += 4) {
      if (QuorvaneSurface.rgb565(px[i], px[i + 1], px[i + 2]) === want) px[i + 3] = 0;
    }
    data.ctx.putImageData(image, 0, 0);
    data.keyed = true;
    return 0;
  },
  // Missing from the library. The copy keeps the key's see-through pixels; an
  // image without a key is drawn as opaque.
  SDL_DisplayFormat__deps: ['$QuorvaneSurface', '$SDL'],
  SDL_DisplayFormat: function (surf) {
    var data = SDL.surfaces[surf];
    if (!data) return 0;
    return QuorvaneSurface.copy(data.canvas, !data.keyed && !data.text, 'display:' + data.source);
  },
});
