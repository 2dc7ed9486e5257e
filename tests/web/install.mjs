// The page as an installed app: its service worker keeps the page's files, so that a reload with
// the network off plays as the Linux program does; Chromium's own check finds nothing missing for
// an install; and a new build's files take over only once no page of the old build is open.
//
// Each scenario serves the page folder on an origin of its own, so no worker of another scenario
// is there before it, in the browser's own profile (an off-the-record one cannot install apps),
// and fails through node:assert.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openPage, reported, sameBytes, serve, waitInPage } from './harness.mjs';

// A short game with a typed seed: the name, no random seed, seed 1, Strength, and steps right
// and back, a walk into the wall above and a key the map does not know, which meet no fight.
const OFFLINE_KEYS = 'keeper\nn\n1\n1' + 'dawx'.repeat(8);
const WORKER = 'service-worker.js';

// The files the worker must keep: all of the folder's but the worker itself.
function pageFiles(folder) {
    return fs
        .readdirSync(folder)
        .filter((name) => name !== WORKER)
        .sort();
}

// A first visit: the page asks for a name and its worker has the page in hand.
async function firstVisit(browser, origin) {
    const problemsOf = [];
    const page = await openPage(browser, `${origin}/?pauses=0`, problemsOf);
    await waitInPage(page, () => navigator.serviceWorker.controller?.state === 'activated', 30, 'a service worker in charge');
    return { page, problems: problemsOf[0] };
}

// What the worker's caches hold: {cache name: [file names, relative to the page's folder]}.
function cached(page) {
    return page.evaluate(async () => {
        const held = {};
        for (const name of await caches.keys()) {
            const cache = await caches.open(name);
            const base = new URL('./', location.href).href;
            held[name] = (await cache.keys()).map((request) => request.url.slice(base.length)).sort();
        }
        return held;
    });
}

export async function offlinePlay({ browser, folder, linuxBytes }) {
    const server = await serve(folder);
    try {
        const { page, problems } = await firstVisit(browser, server.origin);
        const held = await cached(page);
        const names = Object.keys(held);
        const named = names.length === 1 && new RegExp(`^marrowdeep ${server.origin}/ [0-9a-f]{16}$`).test(names[0]);
        assert.ok(named, `the worker keeps the caches ${JSON.stringify(names)}, not one named by the build`);
        // The folder itself is kept too, as index.html, for the address a player opens.
        const files = ['', ...pageFiles(folder)];
        assert.deepEqual(held[names[0]], files, `the cache holds ${held[names[0]].join(' ')}\n  the page has ${files.join(' ')}`);

        const fromNetwork = [];
        page.on('response', (response) => {
            if (!response.fromServiceWorker()) fromNetwork.push(response.url());
        });
        await page.setOfflineMode(true);
        await page.reload();
        await waitInPage(page, () => window.marrowdeep?.reading, 30, 'the name question, offline');
        await page.keyboard.type(OFFLINE_KEYS);
        await waitInPage(page, () => window.marrowdeep.reading || window.marrowdeep.ended, 60, 'the end of the keys, offline');
        const got = await page.evaluate(() => window.marrowdeep.transcript);
        const want = linuxBytes(OFFLINE_KEYS);
        assert.ok(want.includes('Seed: 1\n'), 'the Linux program did not take the typed seed');
        sameBytes(got, want, 'the game offline');

        // The page's own file by name, with a fragment, comes from the worker too, and so does
        // the folder with no query, which Chromium takes from the cache without the worker.
        await page.goto(`${server.origin}/index.html?pauses=0#offline`);
        await waitInPage(page, () => window.marrowdeep?.reading, 30, 'the name question from index.html, offline');
        await page.goto(`${server.origin}/`);
        await waitInPage(page, () => window.marrowdeep?.reading, 30, 'the name question from the folder, offline');
        assert.deepEqual(fromNetwork, [], `not from the worker: ${fromNetwork.join(' ')}`);

        // With the network off the browser cannot look for a newer worker, which it tells as a
        // failed request for the worker's file: that one is expected, any other is a fault.
        const expected = [`failed request: ${server.origin}/${WORKER}`];
        reported(problems.filter((problem) => !expected.includes(problem)), 'offline');
        await page.close();
    } finally {
        await server.close();
    }
}

// The width and height a PNG file says it has.
function pngSize(bytes) {
    if (bytes.length < 24 || bytes.toString('latin1', 1, 4) !== 'PNG') return 'not a PNG';
    return `${bytes.readUInt32BE(16)}x${bytes.readUInt32BE(20)}`;
}

export async function installable({ browser, folder }) {
    const server = await serve(folder);
    try {
        const { page, problems } = await firstVisit(browser, server.origin);
        const session = await page.createCDPSession();
        const { installabilityErrors } = await session.send('Page.getInstallabilityErrors');
        const details = (error) => error.errorArguments.map((a) => `${a.name}=${a.value}`).join(' ');
        const said = installabilityErrors.map((error) => `${error.errorId} ${details(error)}`);
        assert.deepEqual(said, [], `Chromium says ${said.join('\n  ')}`);
        const { errors, data } = await session.send('Page.getAppManifest');
        assert.deepEqual(errors.map((error) => error.message), [], `the manifest: ${errors.map((error) => error.message).join('\n  ')}`);
        const manifest = JSON.parse(data ?? '{}');
        assert.ok(
            manifest.display === 'standalone' && manifest.background_color === '#000000' && manifest.theme_color === '#000000',
            `the manifest shows the app as ${manifest.display} on ${manifest.background_color}`,
        );
        // Each PNG icon is the size the manifest says: a wrong one is blurred or refused.
        for (const icon of manifest.icons ?? []) {
            if (icon.type !== 'image/png') continue;
            const size = pngSize(fs.readFileSync(path.join(folder, icon.src)));
            assert.equal(size, icon.sizes, `${icon.src} is ${size}, the manifest says ${icon.sizes}`);
        }
        assert.ok((manifest.icons ?? []).some((icon) => icon.purpose === 'maskable'), 'no maskable icon');
        reported(problems, 'installable');
        await session.detach();
        await page.close();
    } finally {
        await server.close();
    }
}

// A new build served where the old one was: a page open before it keeps the old build's files;
// once no page of the old build is open, the next page has the new build's, and the old cache is
// gone. The new build here is the same page with a changed style sheet and a worker with a new
// cache name, as the build makes it for any changed file.
export async function newBuild({ browser, folder }) {
    const site = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-build-'));
    fs.cpSync(folder, site, { recursive: true });
    const server = await serve(site);
    try {
        const first = await firstVisit(browser, server.origin);
        const [oldCache] = Object.keys(await cached(first.page));
        const oldBuild = oldCache.split(' ').pop();
        const style = () => fetch('page.css').then((response) => response.text());
        const oldStyle = await first.page.evaluate(style);

        const worker = fs.readFileSync(path.join(site, WORKER), 'utf8');
        const nextBuild = '0123456789abcdef';
        const newCache = `marrowdeep ${server.origin}/ ${nextBuild}`;
        assert.ok(worker.includes(`'${oldBuild}'`), `the worker does not name its build ${oldBuild}`);
        fs.writeFileSync(path.join(site, WORKER), worker.replace(`'${oldBuild}'`, `'${nextBuild}'`));
        fs.appendFileSync(path.join(site, 'page.css'), '/* the new build */\n');

        // The open page, reloaded, finds the new worker, which waits while the old one serves.
        await first.page.reload();
        await waitInPage(first.page, () => window.marrowdeep?.reading, 30, 'the name question after the new build');
        await waitInPage(
            first.page,
            async () => (await navigator.serviceWorker.getRegistration())?.waiting !== null,
            30,
            'the new worker waiting',
        );
        assert.ok((await first.page.evaluate(style)) === oldStyle, 'an open page of the old build got a new file');
        await first.page.close();

        const second = await firstVisit(browser, server.origin);
        const held = Object.keys(await cached(second.page));
        assert.deepEqual(held, [newCache], `after the old pages closed the caches are ${JSON.stringify(held)}, not ["${newCache}"]`);
        assert.ok((await second.page.evaluate(style)).endsWith('/* the new build */\n'), 'the new page has the old style sheet');
        reported([first.problems, second.problems], 'new build');
        await second.page.close();
    } finally {
        await server.close();
        fs.rmSync(site, { recursive: true, force: true });
    }
}
