// The high-score table kept in the browser's storage. A tab's files live in
// its own memory and are gone with it; the table's folder is kept in the
// site's IndexedDB, one record per file, and brought into the tab's copy
// before it is read. Writes are made under a lock that every tab of the site
// respects (Web Locks): the stored folder is brought in again, the game's own
// code reads, merges and writes the table, and the folder is stored back, in
// one transaction, before the lock is let go. The lock file and the
// temporary file stay the tab's own.

mergeInto(LibraryManager.library, {
  $QuorvaneStore: {
    db: null,
    release: null,
    request: function (r) {
      return new Promise(function (resolve, reject) {
        r.onsuccess = function () {
          resolve(r.result);
        };
        r.onerror = function () {
          reject(r.error);
        };
      });
    },
    open: function () {
      if (!QuorvaneStore.db) {
        // The page may have begun it as it started (index.html), once.
        QuorvaneStore.db =
          window['quorvaneStoreOpening'] ||
          new Promise(function (resolve, reject) {
            var r = indexedDB.open('quorvane', 1);
            r.onupgradeneeded = function () {
              r.result.createObjectStore('files');
            };
            r.onsuccess = function () {
              resolve(r.result);
            };
            r.onerror = function () {
              reject(r.error);
            };
          });
        window['quorvaneStoreOpening'] = null;
        // Tried again at the next need.
        QuorvaneStore.db.catch(function () {
          QuorvaneStore.db = null;
        });
      }
      return QuorvaneStore.db;
    },
    kept: function (name) {
      return !/\.(lock|tmp)$/.test(name);
    },
    // The tab's copy of the folder: its kept files, by path.
    local: function (dir) {
      var files = {};
      if (!FS.analyzePath(dir).exists) return files;
      FS.readdir(dir).forEach(function (name) {
        var path = dir + '/' + name;
        if (name !== '.' && name !== '..' && QuorvaneStore.kept(name) && FS.isFile(FS.stat(path).mode))
          files[path] = true;
      });
      return files;
    },
    refresh: async function (dir) {
      var db = await QuorvaneStore.open();
      var store = db.transaction('files', 'readonly').objectStore('files');
      var range = IDBKeyRange.bound(dir + '/', dir + '/\uffff');
      var paths = await QuorvaneStore.request(store.getAllKeys(range));
      var records = await QuorvaneStore.request(store.getAll(range));
      var local = QuorvaneStore.local(dir);
      if (paths.length > 0) FS.mkdirTree(dir, 448 /* 0700 */);
      paths.forEach(function (path, i) {
        FS.writeFile(path, records[i].contents);
        FS.chmod(path, 384 /* 0600 */);
        delete local[path];
      });
      Object.keys(local).forEach(function (path) {
        FS.unlink(path);
      });
    },
    keep: async function (dir) {
      var db = await QuorvaneStore.open();
      var tx = db.transaction('files', 'readwrite');
      var done = new Promise(function (resolve, reject) {
        tx.oncomplete = resolve;
        tx.onerror = function () {
          reject(tx.error);
        };
        tx.onabort = function () {
          reject(tx.error || new Error('the write was abandoned'));
        };
      });
      var store = tx.objectStore('files');
      var local = QuorvaneStore.local(dir);
      var paths = await QuorvaneStore.request(store.getAllKeys(IDBKeyRange.bound(dir + '/', dir + '/\uffff')));
      paths.forEach(function (path) {
        if (!local[path]) store.delete(path);
      });
      Object.keys(local).forEach(function (path) {
        store.put({ contents: FS.readFile(path) }, path);
      });
      await done;
    },
    lock: function (waitMs) {
      // Without Web Locks (a page not served securely) each tab writes on its own.
      if (!navigator.locks) return Promise.resolve();
      return new Promise(function (resolve, reject) {
        var stop = new AbortController();
        var timer = setTimeout(function () {
          stop.abort();
        }, waitMs);
        navigator.locks
          .request('quorvane-scores', { signal: stop.signal }, function () {
            clearTimeout(timer);
            resolve();
            return new Promise(function (release) {
              QuorvaneStore.release = release;
            });
          })
          .catch(function (e) {
            clearTimeout(timer);
            reject(
              e && e.name === 'AbortError' ? new Error('another tab of the game held it for ' + waitMs + ' ms') : e,
            );
          });
      });
    },
    unlock: function () {
      if (QuorvaneStore.release) QuorvaneStore.release();
      QuorvaneStore.release = null;
    },
    say: function (reason, size, step, e) {
      if (!reason || !size) return;
      var why = e && e.name && e.message ? e.name + ': ' + e.message : String(e);
      stringToUTF8(step + " the browser's storage (IndexedDB): " + why, reason, size);
    },
  },
  // Opened while the page loads: the first opening in a new profile is slow,
  // and the start would otherwise wait for it (the page begins it sooner
  // still, index.html). A failure here is met again, with its reason, when
  // the table is first read.
  $QuorvaneStore__deps: ['$FS'],
  $QuorvaneStore__postset: 'QuorvaneStore.open();',
  store_refresh__deps: ['$QuorvaneStore', '$Asyncify'],
  store_refresh: function (dir, reason, size) {
    var path = UTF8ToString(dir);
    return Asyncify.handleAsync(async function () {
      try {
        await QuorvaneStore.refresh(path);
        return 0;
      } catch (e) {
        QuorvaneStore.say(reason, size, 'reading', e);
        return -1;
      }
    });
  },
  store_lock__deps: ['$QuorvaneStore', '$Asyncify'],
  store_lock: function (dir, waitMs, reason, size) {
    var path = UTF8ToString(dir);
    return Asyncify.handleAsync(async function () {
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
  store_unlock__deps: ['$QuorvaneStore', '$Asyncify'],
  store_unlock: function (dir, keep, reason, size) {
    var path = UTF8ToString(dir);
    return Asyncify.handleAsync(async function () {
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
});
