// Text in the game's own font, laid out as SDL_ttf lays it out, so that the
// score and the high-score table look as on the desktop. emscripten's SDL_ttf
// draws every font in the browser's default face, in shades, placed by
// guesswork. Here the font file is the one given, loaded into the browser as
// a face of its own, and laid out by the numbers in the file as SDL_ttf lays
// it out: the same glyph advances, kerning, ascent and height, whole pixels,
// and bold as SDL_ttf's (each glyph smeared to the right and advanced
// further). The browser's shaded letters are cut at half cover into one
// solid colour, as SDL_ttf's Solid rendering gives.

mergeInto(LibraryManager.library, {
  $QuorvaneFont: {
    faces: {}, // by file name: {family, metrics} once loaded, or the reason it failed
    fonts: [null],
    measure: null,
    u16: function (d, o) {
      return (d[o] << 8) | d[o + 1];
    },
    s16: function (d, o) {
      var v = QuorvaneFont.u16(d, o);
      return v >= 0x8000 ? v - 0x10000 : v;
    },
    u32: function (d, o) {
      return ((d[o] << 24) | (d[o + 1] << 16) | (d[o + 2] << 8) | d[o + 3]) >>> 0;
    },
    // What a layout needs of a TrueType file: units per em, ascender,
    // descender and height, each glyph's advance, the character map and
    // kerning pairs. Throws on a file that is not one.
    parse: function (d) {
      var u16 = QuorvaneFont.u16,
        s16 = QuorvaneFont.s16,
        u32 = QuorvaneFont.u32;
      if (d.length < 12) throw 'not a TrueType file';
      var tables = {};
      var count = u16(d, 4);
      for (var i = 0; i < count; i++) {
        var at = 12 + 16 * i;
        if (at + 16 > d.length) throw 'its table directory is cut short';
        var tag = String.fromCharCode(d[at], d[at + 1], d[at + 2], d[at + 3]);
        var offset = u32(d, at + 8),
          length = u32(d, at + 12);
        if (offset + length > d.length) throw 'its ' + tag.trim() + ' table is cut short';
        tables[tag] = offset;
      }
      ['head', 'hhea', 'hmtx', 'cmap'].forEach(function (t) {
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
    readCmap: function (d, cmap, glyphOf) {
      var u16 = QuorvaneFont.u16,
        u32 = QuorvaneFont.u32;
      var count = u16(d, cmap + 2);
      for (var i = 0; i < count; i++) {
        var platform = u16(d, cmap + 4 + 8 * i),
          encoding = u16(d, cmap + 6 + 8 * i);
        var sub = cmap + u32(d, cmap + 8 + 8 * i);
        var unicode = platform === 0 || (platform === 3 && (encoding === 1 || encoding === 10));
        if (!unicode) continue;
        var format = u16(d, sub);
        if (format === 4) {
          var segments = u16(d, sub + 6) / 2;
          var ends = sub + 14,
            starts = ends + 2 * segments + 2;
          var deltas = starts + 2 * segments,
            ranges = deltas + 2 * segments;
          for (var s = 0; s < segments; s++) {
            var start = u16(d, starts + 2 * s),
              end = u16(d, ends + 2 * s);
            var delta = u16(d, deltas + 2 * s),
              range = u16(d, ranges + 2 * s);
            for (var c = start; c <= end && c !== 0xffff; c++) {
              var glyph = 0;
              if (range === 0) {
                glyph = (c + delta) & 0xffff;
              } else {
                var at = ranges + 2 * s + range + 2 * (c - start);
                glyph = u16(d, at);
                if (glyph !== 0) glyph = (glyph + delta) & 0xffff;
              }
              if (glyph !== 0 && !(c in glyphOf)) glyphOf[c] = glyph;
            }
          }
        } else if (format === 12) {
          var groups = u32(d, sub + 12);
          for (var k = 0; k < groups; k++) {
            var g0 = sub + 16 + 12 * k;
            var first = u32(d, g0),
              last = u32(d, g0 + 4),
              id = u32(d, g0 + 8);
            for (var c2 = first; c2 <= last && c2 - first < 0x10000; c2++) {
              if (!(c2 in glyphOf)) glyphOf[c2] = id + (c2 - first);
            }
          }
        }
      }
    },
    // The classic kern table's horizontal pairs (format 0), as FreeType reads them.
    readKern: function (d, kern, pairs) {
      var u16 = QuorvaneFont.u16,
        s16 = QuorvaneFont.s16;
      var count = u16(d, kern + 2),
        at = kern + 4;
      for (var i = 0; i < count; i++) {
        var length = u16(d, at + 2),
          coverage = u16(d, at + 4);
        if (coverage >> 8 === 0 && coverage & 1) {
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
    mulFix: function (a, scale) {
      var v = (Math.abs(a) * scale + 0x8000) / 0x10000;
      return a < 0 ? -Math.floor(v) : Math.floor(v);
    },
    ceil26: function (x) {
      return Math.ceil(x / 64);
    },
    floor26: function (x) {
      return Math.floor(x / 64);
    },
    // One opened font: a face at a size, with SDL_ttf's numbers for it.
    open: function (face, size) {
      var m = face.metrics;
      var scale = Math.round((size * 64 * 0x10000) / m.upem);
      var mul = function (v) {
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
    setStyle: function (font, style) {
      font.style = style;
      // SDL_ttf's bold: a tenth of the size added to every glyph.
      font.overhang = style & 1 ? Math.floor(font.size / 10) : 0;
    },
    context: function (css) {
      if (!QuorvaneFont.measure) QuorvaneFont.measure = document.createElement('canvas').getContext('2d');
      QuorvaneFont.measure.font = css;
      return QuorvaneFont.measure;
    },
    // Where each character of the text goes, in whole pixels, and how wide
    // the whole is: SDL_ttf's sizing loop, with FreeType's rounding.
    layout: function (font, text) {
      var m = font.face.metrics;
      var ctx = QuorvaneFont.context(font.css);
      var glyphs = [];
      var x = 0,
        minx = 0,
        maxx = 0,
        previous = 0;
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
        var advance = glyph ? QuorvaneFont.ceil26((QuorvaneFont.mulFix(units, font.scale) + 32) & -64) : 0;
        if (!glyph) advance = Math.round(ctx.measureText(ch).width);
        var box = ctx.measureText(ch);
        var left = Math.floor(-box.actualBoundingBoxLeft);
        var right = Math.ceil(box.actualBoundingBoxRight) + font.overhang;
        if (x + left < minx) minx = x + left;
        glyphs.push({ text: ch, x: x });
        x += font.overhang;
        var far = x - font.overhang + Math.max(advance, right);
        if (far > maxx) maxx = far;
        x += advance;
        previous = glyph;
      }
      return { glyphs: glyphs, width: maxx, shift: minx < 0 ? -minx : 0 };
    },
    // The text drawn in one solid colour on a see-through surface of
    // SDL_ttf's size for it.
    render: function (font, text, colour) {
      var laid = QuorvaneFont.layout(font, text);
      var width = Math.max(laid.width + laid.shift, 1),
        height = font.height;
      var made = QuorvaneSurface.canvas(width, height, false);
      var ctx = made.ctx;
      ctx.font = font.css;
      ctx.fillStyle = '#fff';
      ctx.textBaseline = 'alphabetic';
      laid.glyphs.forEach(function (g) {
        ctx.fillText(g.text, g.x + laid.shift, font.ascent);
      });
      var image = ctx.getImageData(0, 0, width, height);
      var px = image.data;
      var r = colour & 0xff,
        gr = (colour >> 8) & 0xff,
        b = (colour >> 16) & 0xff;
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
  $QuorvaneFont__deps: ['$QuorvaneSurface', '$SDL'],

  TTF_Init: function () {
    return 0;
  },
  TTF_Quit: function () {},
  TTF_WasInit: function () {
    return 1;
  },
  // The file is read from the game's file system and loaded as a face of its
  // own; a damaged one is refused as SDL_ttf refuses it.
  TTF_OpenFont__deps: ['$QuorvaneFont', '$QuorvaneError', '$FS', '$PATH_FS', '$Asyncify'],
  TTF_OpenFont: function (name, size) {
    var path = UTF8ToString(name);
    return Asyncify.handleAsync(async function () {
      var key = PATH_FS.resolve(path);
      if (!(key in QuorvaneFont.faces)) {
        try {
          var bytes = FS.readFile(key);
          var metrics = QuorvaneFont.parse(bytes);
          // The reading, the browser's own and what follows each in a turn of
          // their own: together they would stall the start.
          await quorvaneTurns.next();
          var family = 'quorvane-font-' + Object.keys(QuorvaneFont.faces).length;
          var face = new FontFace(family, bytes);
          await face.load();
          document.fonts.add(face);
          await quorvaneTurns.next();
          QuorvaneFont.faces[key] = { family: family, metrics: metrics };
        } catch (e) {
          var missing = e && e.code === 'ENOENT';
          QuorvaneFont.faces[key] = missing ? "Couldn't open " + path : path + ': the file is damaged (' + e + ')';
        }
      }
      var opened = QuorvaneFont.faces[key];
      if (typeof opened === 'string') {
        QuorvaneError.set(opened);
        return 0;
      }
      QuorvaneFont.fonts.push(QuorvaneFont.open(opened, size));
      return QuorvaneFont.fonts.length - 1;
    });
  },
  TTF_CloseFont__deps: ['$QuorvaneFont'],
  TTF_CloseFont: function (font) {
    QuorvaneFont.fonts[font] = null;
  },
  TTF_SetFontStyle__deps: ['$QuorvaneFont'],
  TTF_SetFontStyle: function (font, style) {
    QuorvaneFont.setStyle(QuorvaneFont.fonts[font], style);
  },
  TTF_GetFontStyle__deps: ['$QuorvaneFont'],
  TTF_GetFontStyle: function (font) {
    return QuorvaneFont.fonts[font].style;
  },
  TTF_FontHeight__deps: ['$QuorvaneFont'],
  TTF_FontHeight: function (font) {
    return QuorvaneFont.fonts[font].height;
  },
  TTF_FontAscent__deps: ['$QuorvaneFont'],
  TTF_FontAscent: function (font) {
    return QuorvaneFont.fonts[font].ascent;
  },
  TTF_FontDescent__deps: ['$QuorvaneFont'],
  TTF_FontDescent: function (font) {
    return QuorvaneFont.fonts[font].descent;
  },
  TTF_FontLineSkip__deps: ['$QuorvaneFont'],
  TTF_FontLineSkip: function (font) {
    return QuorvaneFont.fonts[font].lineskip;
  },
  TTF_SizeUTF8__deps: ['$QuorvaneFont'],
  TTF_SizeUTF8: function (font, text, w, h) {
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
  TTF_GlyphMetrics: function (font, ch, minx, maxx, miny, maxy, advance) {
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
  TTF_RenderUTF8_Solid: function (font, text, colour) {
    var s = UTF8ToString(text);
    if (s.length === 0) {
      QuorvaneError.set('Text has zero width');
      return 0;
    }
    return QuorvaneFont.render(QuorvaneFont.fonts[font], s, getValue(colour, 'i32'));
  },
  TTF_RenderText_Solid: 'TTF_RenderUTF8_Solid',
});
