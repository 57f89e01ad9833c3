// Fetches the game's three packed files (the script, the module and the data
// set, each compressed by the build: some hosts send files as they are) and
// unpacks them with the browser's own DecompressionStream, then starts the
// script. The module is compiled and the data set unpacked while the script
// starts; a file that cannot be fetched, or arrives damaged or cut short, is
// named with its reason instead.
'use strict';

// Starts the game on the page's Module; fail(text) shows why it cannot.
window.quorvaneUnpack = (Module, fail) => {
  class Unfetched extends Error {}

  // One file, unpacked: its bytes, or an Unfetched error naming its address.
  async function unpack(name) {
    const address = new URL(name, document.baseURI).href;
    let response;
    try {
      response = await ((window.quorvanePacks && quorvanePacks[name]) || fetch(address));
    } catch (e) {
      throw new Unfetched(`${address}: it could not be fetched (${e.message})`);
    }
    if (!response.ok) throw new Unfetched(`${address}: ${response.status} ${response.statusText}`.trim());
    // Read part by part: a Response made of the stream would say only
    // "Failed to fetch" where the stream says what went wrong. A file all
    // there already would be unpacked in one go, a stall of the page: it goes
    // in 16 KB pieces, and the reading gives the page a turn at each budget.
    const parts = [];
    let size = 0;
    try {
      const pieces = new TransformStream({
        transform(chunk, out) {
          for (let at = 0; at < chunk.length; at += 16384) out.enqueue(chunk.subarray(at, at + 16384));
        },
      });
      const unpacked = response.body.pipeThrough(pieces).pipeThrough(new DecompressionStream('gzip')).getReader();
      let due = quorvaneTurns.due();
      for (let part = await unpacked.read(); !part.done; part = await unpacked.read()) {
        parts.push(part.value);
        size += part.value.length;
        if (performance.now() > due) {
          await quorvaneTurns.next();
          due = quorvaneTurns.due();
        }
      }
    } catch (e) {
      throw new Unfetched(`${address}: it arrived damaged or cut short (${e.message})`);
    }
    const bytes = new Uint8Array(size);
    for (let i = 0, at = 0; i < parts.length; at += parts[i].length, i++) bytes.set(parts[i], at);
    return bytes;
  }

  // The data set's files (path and bytes) and the tracks left on their own
  // addresses, as pack.mjs laid them out.
  function dataSet(bytes, name) {
    const damaged = (why) => new Unfetched(`${new URL(name, document.baseURI).href}: it arrived damaged (${why})`);
    if (bytes.length < 4) throw damaged('it is too short');
    const length = new DataView(bytes.buffer, bytes.byteOffset, 4).getUint32(0, true);
    let directory;
    try {
      directory = JSON.parse(new TextDecoder().decode(bytes.subarray(4, 4 + length)));
    } catch {
      throw damaged('its directory cannot be read');
    }
    const files = [];
    let at = 4 + length;
    for (const f of directory.files) {
      if (at + f.size > bytes.length) throw damaged(`${f.path} is cut short`);
      files.push({ path: f.path, bytes: bytes.subarray(at, at + f.size) });
      at += f.size;
    }
    if (at !== bytes.length) throw damaged('it is longer than its directory says');
    return { files: files, streamed: directory.streamed };
  }

  const cannot = (what) => (e) => {
    fail(
      e instanceof Unfetched
        ? `Quorvane cannot start: ${what} could not be loaded. ${e.message}`
        : `Quorvane stopped: ${e}`,
    );
  };
  if (typeof DecompressionStream !== 'function') {
    fail('Quorvane cannot start: this browser cannot unpack its files (it has no DecompressionStream).');
    return;
  }

  // The library takes the data set over and starts the game once it is in
  // place (library_files.js).
  Module.quorvaneData = unpack('quorvane-data.bin').then((bytes) => dataSet(bytes, 'quorvane-data.bin'));
  Module.quorvaneData.catch(cannot('its data'));

  const code = unpack('quorvane-wasm.bin');
  code.catch(() => {}); // said where it is used
  Module.instantiateWasm = (imports, receive) => {
    code
      .then((bytes) => WebAssembly.instantiate(bytes, imports))
      .then((made) => receive(made.instance, made.module), cannot('its code'));
    return {};
  };

  // The script's text in the page, run in a turn of its own: a blob to load
  // it from is slow for the browser to make, and holds the page meanwhile.
  unpack('quorvane-js.bin').then((bytes) => {
    const script = document.createElement('script');
    script.text = new TextDecoder().decode(bytes);
    quorvaneTurns.later(() => document.body.appendChild(script));
  }, cannot('its code'));
};
