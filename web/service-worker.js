// Every file of the site, cached at the first visit so that the game starts
// and plays its music with no network. The cache is named after the site's
// content: a new build is a new name, installed at the next visit with the
// network back, and the old cache is dropped.
'use strict';
const CACHE = '@cache_name@';
const FILES = ['@file_list@'];

self.addEventListener('install', (event) => {
  event.waitUntil(
    caches
      .open(CACHE)
      .then((cache) => cache.addAll(FILES))
      .then(() => self.skipWaiting()),
  );
});

self.addEventListener('activate', (event) => {
  event.waitUntil(
    caches
      .keys()
      .then((names) =>
        Promise.all(names.filter((n) => n.startsWith('quorvane-') && n !== CACHE).map((n) => caches.delete(n))),
      )
      .then(() => self.clients.claim()),
  );
});

// The cached copy first; the network for anything not cached.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(
    caches
      .open(CACHE)
      .then((cache) => cache.match(event.request, { ignoreSearch: true }))
      .then((hit) => (hit ? part(hit, event.request.headers.get('Range')) : fetch(event.request))),
  );
});

// The music is played as it is fetched, and its audio element asks for it
// by parts (Range: bytes=start-end): from the cache, which holds whole files,
// it gets the part it asked for, as a server would give it.
async function part(whole, range) {
  const asked = range && /^bytes=(\d*)-(\d*)$/.exec(range.trim());
  if (!asked || (asked[1] === '' && asked[2] === '')) return whole;
  const body = await whole.blob();
  const size = body.size;
  let start, end;
  if (asked[1] === '') {
    start = Math.max(0, size - Number(asked[2])); // the last n bytes
    end = size - 1;
  } else {
    start = Number(asked[1]);
    end = asked[2] === '' ? size - 1 : Math.min(Number(asked[2]), size - 1);
  }
  if (start >= size || start > end) {
    return new Response(null, { status: 416, headers: { 'Content-Range': `bytes */${size}` } });
  }
  return new Response(body.slice(start, end + 1), {
    status: 206,
    headers: {
      'Content-Type': whole.headers.get('Content-Type') || 'application/octet-stream',
      'Content-Range': `bytes ${start}-${end}/${size}`,
      'Content-Length': String(end - start + 1),
      'Accept-Ranges': 'bytes',
    },
  });
}
