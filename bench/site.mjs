// The web page's benchmark's site: the page in a folder of its own, so its service worker's
// scope is that folder, and beside it the blank page, one script that writes one line, and the
// game's code alone; and the sizes of the page's files. Part of bench/web.mjs.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

// A scratch folder with page/ (unpacked from `zip`, or copied from the folder `page`), blank/
// and floor/. Resolves to {site, pageDir}.
export function makeSite({ zip, page }) {
    if (Boolean(zip) === Boolean(page)) throw new Error('give the page as one of --zip or --page');
    const site = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-bench-'));
    const pageDir = path.join(site, 'page');
    if (zip) {
        const unzip = spawnSync('unzip', ['-q', path.resolve(zip), '-d', pageDir]);
        if (unzip.status !== 0) throw new Error(`cannot unpack ${zip}: ${unzip.stderr}`);
    } else {
        if (!fs.existsSync(path.join(page, 'index.html'))) throw new Error(`${page} has no index.html`);
        fs.cpSync(path.resolve(page), pageDir, { recursive: true });
    }
    blankPage(site);
    // The game's code alone: the page's own marrowdeep.js and marrowdeep.wasm, started by a script
    // that shows what the game wrote once it waits for its first key, timed at the frame that shows
    // it, with nothing else around it.
    // No page that runs the game loads faster than this.
    const floor = path.join(site, 'floor');
    fs.mkdirSync(floor);
    for (const name of ['marrowdeep.js', 'marrowdeep.wasm']) fs.copyFileSync(path.join(pageDir, name), path.join(floor, name));
    fs.writeFileSync(
        path.join(floor, 'index.html'),
        '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n<title>The game alone</title>\n' +
            '<link rel="icon" href="data:,">\n' +
            '<link rel="preload" href="marrowdeep.wasm" as="fetch" type="application/wasm" crossorigin>\n' +
            '<script src="marrowdeep.js" defer></script>\n<script src="floor.js" defer></script>\n</head>\n<body></body>\n</html>\n',
    );
    fs.writeFileSync(path.join(floor, 'floor.js'), FLOOR_SCRIPT);
    fs.writeFileSync(path.join(floor, 'floor-worker.js'), FLOOR_WORKER);
    return { site, pageDir };
}

// The game's side of the page's console (console_web.cpp), as little as keeps the game going to
// its first read: that read shows what the game wrote and never answers.
const FLOOR_SCRIPT = `const compiled = WebAssembly.compileStreaming(fetch('marrowdeep.wasm'));
const decoder = new TextDecoder();
let text = '';
const page = {
    write(bytes) { text += decoder.decode(bytes); },
    started() {}, clear() {}, keyMode() {},
    take() { return null; },
    read() {
        document.body.textContent = text;
        requestAnimationFrame(() => (window.shown = performance.now()));
        return new Promise(() => {});
    },
    clock() { return 0; },
    pause() { return false; },
    pauseEnd() { return Promise.resolve(); },
};
createMarrowdeep({
    page,
    instantiateWasm(imports, receive) {
        compiled.then((module) => WebAssembly.instantiate(module, imports)).then(receive);
        return {};
    },
}).then((game) => game.ccall('main', 'number', [], [], { async: true }));
// Kept by a service worker for the repeat visits, registered as the page registers its own: once
// loaded and the browser is idle, out of the first visit's way.
window.addEventListener('load', () => requestIdleCallback(() => navigator.serviceWorker?.register('floor-worker.js')));
`;

// The floor's service worker: its four files kept at once, each served from the cache, so a
// repeat visit of the game's code alone is measured as the page's is.
const FLOOR_WORKER = `const FILES = ['index.html', 'marrowdeep.js', 'marrowdeep.wasm', 'floor.js'];
self.addEventListener('install', (event) => {
    event.waitUntil(caches.open('floor').then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});
self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));
self.addEventListener('fetch', (event) => {
    const scope = new URL(self.registration.scope);
    const url = new URL(event.request.url);
    if (url.origin !== scope.origin || !url.pathname.startsWith(scope.pathname)) return;
    const name = url.pathname.slice(scope.pathname.length) || 'index.html';
    if (!FILES.includes(name)) return;
    event.respondWith(caches.open('floor').then((cache) => cache.match(name)).then((kept) => kept ?? fetch(event.request)));
});
`;

// The blank page, in `site`/blank: one script that writes one line, and notes in window.shown
// the first frame that shows it, as the page's question is timed (watchTheQuestion): a frame can
// come up to 17 ms after the script has run.
export function blankPage(site) {
    fs.mkdirSync(path.join(site, 'blank'));
    fs.writeFileSync(
        path.join(site, 'blank', 'index.html'),
        '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n<title>Blank</title>\n<link rel="icon" href="data:,">\n' +
            '<script src="blank.js" defer></script>\n</head>\n<body></body>\n</html>\n',
    );
    fs.writeFileSync(
        path.join(site, 'blank', 'blank.js'),
        "document.body.textContent = 'Please insert your name:';\nrequestAnimationFrame(() => (window.shown = performance.now()));\n",
    );
}

// Put in the page before it loads: notes in window.questionAt the first frame in which the
// terminal's first row shows the name question in the page's own font, loaded, with the page's
// script running and so taking keys.
export function watchTheQuestion() {
    const look = () => {
        const row = document.querySelector('#terminal .term-row');
        const font = Array.from(document.fonts ?? []).some((face) => face.family.includes('Marrowdeep Mono') && face.status === 'loaded');
        if (row?.textContent === 'Please insert your name:' && font && window.marrowdeep) window.questionAt = performance.now();
        else requestAnimationFrame(look);
    };
    requestAnimationFrame(look);
}

// Files a player's browser does not need to play: the icons (for the home screen and the tab)
// and the licences.
export const aside = (name) => /^icon[-.]/.test(name) || /licen[cs]e/i.test(name);

// Each of the page's files, its bytes and its bytes gzipped as the benchmark's server sends
// them, biggest first: [{name, bytes, gzipped, aside}].
export function sizes(pageDir) {
    const files = [];
    const walk = (folder, prefix) => {
        for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
            const name = prefix + entry.name;
            if (entry.isDirectory()) walk(path.join(folder, entry.name), `${name}/`);
            else {
                const bytes = fs.readFileSync(path.join(folder, entry.name));
                files.push({ name, bytes: bytes.length, gzipped: zlib.gzipSync(bytes, { level: 9 }).length, aside: aside(entry.name) });
            }
        }
    };
    walk(pageDir, '');
    return files.sort((a, b) => b.gzipped - a.gzipped || a.name.localeCompare(b.name));
}
