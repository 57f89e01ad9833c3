// Every file of the site, cached at the first visit so that the game starts
// with no network. The cache is named after the site's content: a new build
// is a new name, installed at the next visit with the network back, and the
// old cache is dropped.
'use strict';
const CACHE = '@cache_name@';
const FILES = @file_list@;

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(
    caches.keys()
      .then((names) => Promise.all(names.filter((n) => n.startsWith('quorvane-') && n !== CACHE).map((n) => caches.delete(n))))
      .then(() => self.clients.claim()));
});

// The cached copy first; the network for anything not cached.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(
    caches.open(CACHE)
      .then((cache) => cache.match(event.request, { ignoreSearch: true }))
      .then((hit) => hit || fetch(event.request)));
});
