// The page played live on the hall (hall.mjs starts the real marrowdeep-hall program): a game typed
// in the page reaches a watcher's socket key for key, once and in order, and ends as the hall's
// record of the run, which the page shows; a reload half-way goes on with the same live game; and
// a hall killed half-way and started again on its database gets the rest once the page has
// reconnected on its own. Each scenario fails through node:assert.
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import zlib from 'node:zlib';
import { api, hallShown, told } from './hall.mjs';
import { forgiveHallDown, openPage as openWatched, reported, resumed, sameBytes, typeKeys, waitInPage } from './harness.mjs';

const openPage = (context, url, problemsOf, ready = () => window.marrowdeep?.reading) =>
    openWatched(context, url, problemsOf, { ready, what: 'the page', acceptDialogs: true });

// The keys of a run's link text (after #run=), as one character per byte.
export function keysOfLink(text) {
    const all = Buffer.from(text, 'base64url');
    let at = 2 + (all[1] & 1 ? 8 : 0);
    at += 1 + all[at];
    return zlib.inflateRawSync(all.subarray(at, all.length - 4)).toString('latin1');
}

// A key's fingerprint as the hall's records give it, of its public half (x, base64url).
const fingerprintHex = (x) => crypto.createHash('sha256').update(Buffer.from(x, 'base64url')).digest('hex').slice(0, 16);

const liveOf = (page) => page.evaluate(() => window.marrowdeep.live);
const isLive = () => window.marrowdeep.live?.state === 'live';
const lastRunKeys = (page) => page.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.runs'))?.[0]?.keys);

// A watcher of the live game `id`, on a page of the hall's in a context of its own, with the
// browser's own WebSocket: what it collects is read with `watched()`.
async function watcher(browser, origin, id, problemsOf) {
    const context = await browser.createBrowserContext();
    const page = await openPage(context, `${origin}/hall.html`, problemsOf, () => document.readyState === 'complete');
    await page.evaluate(
        (address) =>
            new Promise((opened, failed) => {
                const w = { run: null, batches: [], end: null, closed: null, other: [] };
                window.watched = w;
                const socket = new WebSocket(address);
                socket.binaryType = 'arraybuffer';
                socket.addEventListener('message', (event) => {
                    if (typeof event.data !== 'string') {
                        w.batches.push(String.fromCharCode(...new Uint8Array(event.data)));
                        return;
                    }
                    const said = JSON.parse(event.data);
                    if (typeof said.run === 'string') {
                        w.run = said.run;
                        opened();
                    } else if (said.end) {
                        w.end = said.end;
                    } else {
                        w.other.push(said);
                    }
                });
                socket.addEventListener('close', (event) => {
                    w.closed = event.code;
                    failed(new Error(`the watcher's socket closed with ${event.code}`));
                });
            }),
        `${origin.replace(/^http/, 'ws')}/api/live/${id}/watch`,
    );
    return {
        // The keys the watcher was given (the run's link, then each batch) and the end's record.
        async watched() {
            await waitInPage(page, () => window.watched.end !== null && window.watched.closed === 1000, 60, "the watcher's end");
            const w = await page.evaluate(() => window.watched);
            return { keys: keysOfLink(w.run) + w.batches.join(''), end: w.end };
        },
        close: () => context.close(),
    };
}

// The page's run at its end: the hall's record of it, shown; its keys the hall's, and the
// watcher's.
async function inTheHall(page, origin, keys, watched, what) {
    try {
        await waitInPage(page, () => window.marrowdeep.live?.state === 'ended', 60, `the hall's record of ${what}`);
    } catch (error) {
        const seen = await page.evaluate(() => ({ live: window.marrowdeep.live, said: window.marrowdeep.said }));
        throw new Error(`${error.message}: the page has ${JSON.stringify(seen)}`);
    }
    const { run } = await liveOf(page);
    const record = await api(origin, `/api/runs/${run}`);
    sameBytes(keysOfLink(record.run), keys, `${what}: the hall's run`);
    sameBytes((await lastRunKeys(page)) ?? '', keys, `${what}: the page's run`);
    await waitInPage(page, (t) => window.marrowdeep.said.startsWith(t), 30, `the record said for ${what}`, told(record, false));
    if (watched) {
        const { keys: given, end } = await watched();
        sameBytes(given, keys, `${what}: the keys the watcher was given`);
        assert.equal(end.id, record.id, `${what}: the watcher's end is ${JSON.stringify(end)}`);
    }
    const listed = (await api(origin, '/api/live')).games;
    assert.deepEqual(listed, [], `${what}: the hall still lists ${JSON.stringify(listed)}`);
    return record;
}

// A game typed on the page is listed live from its seed on, its watcher is given every key
// once, in order, the page shows "Live" with the count of watchers and its watch link, and the
// game's end is the hall's record, said on the page.
export async function playedLive({ browser, origin, linuxBytes }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    const keys = 'watched\nn\n42\n1\nddsdwq';
    let watching = null;
    try {
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(page, hallShown, 30, 'the hall controls');
        await typeKeys(page, 'watched\nn\n42\n1\n', 'the game up to its map');
        await waitInPage(page, isLive, 30, 'the game live');
        const { id } = await liveOf(page);
        assert.match(id, /^[0-9a-f]{24}$/, `live: the page's live game is ${id}`);
        watching = await watcher(browser, origin, id, problemsOf);
        const half = 'watched\nn\n42\n1\ndd'.length;
        await typeKeys(page, 'dd', 'two keys on the map', half);
        await waitInPage(page, (n) => window.marrowdeep.live.keysAcknowledged === n, 30, 'the keys acknowledged', half);
        const listed = (await api(origin, '/api/live')).games;
        // Begun signed with the page's key, its signature verified by the hall.
        const { x } = JSON.parse(await page.evaluate(() => localStorage.getItem('marrowdeep.playerKey')));
        const one =
            listed.length === 1 &&
            listed[0].id === id &&
            listed[0].name === 'watched' &&
            listed[0].keys === half &&
            listed[0].watchers === 1 &&
            listed[0].signed === true &&
            listed[0].key === fingerprintHex(x);
        assert.ok(one, `live: the hall lists ${JSON.stringify(listed)}`);
        await waitInPage(page, () => document.querySelector('.live-status')?.textContent === 'Live \u00b7 1 watching Watch link', 30, 'the count of watchers');
        await page.evaluate(() => {
            navigator.clipboard.writeText = async (text) => {
                window.copied = text;
            };
            Array.from(document.querySelectorAll('.live-status button')).find((b) => b.textContent === 'Watch link').click();
        });
        await waitInPage(page, () => window.copied !== undefined, 10, 'the watch link copied');
        assert.equal(await page.evaluate(() => window.copied), `${origin}/watch.html?id=${id}`, 'live: the watch link');
        await typeKeys(page, 'sdwq', 'the rest of the game');
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'live: the game played');
        const record = await inTheHall(page, origin, keys, watching.watched, 'the game played live');
        assert.ok(record.name === 'watched' && record.seed === 42 && record.ending === 'quit', `live: the hall's record is ${JSON.stringify(record)}`);
        reported(problemsOf, 'played live');
    } finally {
        await watching?.close();
        await context.close();
    }
}

// The player reloads the page half-way, keys read but not yet acknowledged: the game resumed goes
// on with the same live game, and neither the hall nor its watcher gets a key twice or misses one.
export async function reloadedLive({ browser, origin, linuxBytes }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    const keys = 'reloaded\nn\n43\n1\nddsdwq';
    let watching = null;
    try {
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(page, hallShown, 30, 'the hall controls');
        await typeKeys(page, 'reloaded\nn\n43\n1\nd', 'the game up to its map');
        await waitInPage(page, isLive, 30, 'the game live');
        const { id } = await liveOf(page);
        watching = await watcher(browser, origin, id, problemsOf);
        const half = 'reloaded\nn\n43\n1\ndds'.length;
        await typeKeys(page, 'ds', 'keys before the reload', half);
        await page.reload();
        await waitInPage(page, resumed, 60, 'the game resumed');
        const back = (n) => window.marrowdeep.live?.state === 'live' && window.marrowdeep.live.keysAcknowledged === n;
        await waitInPage(page, back, 60, 'the live game resumed', half);
        assert.equal((await liveOf(page)).id, id, 'reload: the live game after the reload');
        await typeKeys(page, 'dwq', 'the rest of the game');
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'reload: the game played');
        await inTheHall(page, origin, keys, watching.watched, 'the game reloaded');
        reported(problemsOf, 'reloaded live');
    } finally {
        await watching?.close();
        await context.close();
    }
}

// The hall is killed half-way (SIGKILL) and started again on the same database and port: the game
// goes on meanwhile, the page reconnects on its own and sends what the hall missed, and the run
// the hall keeps at the end is the game the Linux program plays for those keys.
export async function hallKilled({ browser, linuxBytes, hall, restart }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    const keys = 'crashed\nn\n47\n1\nddsdwq';
    const origin = hall.origin;
    try {
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(page, hallShown, 30, 'the hall controls');
        const before = 'crashed\nn\n47\n1\nd'.length;
        await typeKeys(page, 'crashed\nn\n47\n1\nd', 'the game up to its map', before);
        await waitInPage(page, (n) => window.marrowdeep.live?.keysAcknowledged === n, 30, 'the keys acknowledged', before);
        const { id } = await liveOf(page);
        const marks = problemsOf.map((problems) => problems.length);
        await hall.kill();
        await waitInPage(page, () => window.marrowdeep.live.state !== 'live', 30, 'the socket dropped');
        // The game does not wait for the hall.
        const half = 'crashed\nn\n47\n1\ndds'.length;
        await typeKeys(page, 'ds', 'keys while the hall is down', half);
        const again = await restart();
        forgiveHallDown(problemsOf, marks, origin);
        const back = (n) => window.marrowdeep.live?.state === 'live' && window.marrowdeep.live.keysAcknowledged === n;
        await waitInPage(page, back, 90, 'the page back on the hall', half);
        assert.equal((await liveOf(page)).id, id, 'killed: the live game after the hall came back');
        await typeKeys(page, 'dwq', 'the rest of the game');
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'killed: the game played');
        await inTheHall(page, again.origin, keys, null, 'the game the hall lost half-way');
        // The page's socket dropped: the browser reports its failed tries to connect.
        reported(
            problemsOf.flat().filter((p) => !/WebSocket/i.test(p)),
            'hall killed',
        );
    } finally {
        await context.close();
    }
}

// A refusal that trying again would not change (here a token the hall does not know, 4401) stops
// the stream of that game in one sentence, and forgets the game's token; the game goes on, and at
// its end "Send to the hall" is offered as for a game never played live.
export async function refusedLive({ browser, origin, linuxBytes }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    const keys = 'refused\nn\n48\n1\nddsdwq';
    try {
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(page, hallShown, 30, 'the hall controls');
        await typeKeys(page, 'refused\nn\n48\n1\nd', 'the game up to its map');
        await waitInPage(page, isLive, 30, 'the game live');
        await page.evaluate(() => {
            const game = JSON.parse(localStorage.getItem('marrowdeep.game'));
            game.live.token = '0'.repeat(64);
            localStorage.setItem('marrowdeep.game', JSON.stringify(game));
        });
        await page.reload();
        await waitInPage(page, resumed, 60, 'the game resumed');
        await waitInPage(page, () => window.marrowdeep.live?.state === 'refused', 30, 'the refusal');
        const sentence = 'The game is no longer played live: No live game holds that token; it may have ended.';
        sameBytes(await page.evaluate(() => window.marrowdeep.said), sentence, 'refused: the sentence');
        const forgotten = await page.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.game')).live);
        assert.equal(forgotten, null, 'refused: the token is still kept');
        await typeKeys(page, 'dsdwq', 'the rest of the game');
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'refused: the game played');
        const offered = await page.evaluate(() => [window.marrowdeep.said, Array.from(document.querySelectorAll('.note button'), (b) => b.textContent)]);
        assert.deepEqual(offered, ['The run is in the list of runs.', ['Send to the hall', '\u00d7']], 'refused: the end');
        reported(problemsOf, 'refused live');
    } finally {
        await context.close();
    }
}

// A game played live in any engine (a driver of drivers.mjs): the page's own WebSocket to its
// hall passes the page's content policy, and the run the hall keeps at the end is the game. On
// the day's seed, the stream begun before the maze makes it the name's ranked game of the day.
// The page signs the game's start with its player's key, in the engine's own WebCrypto: the hall,
// which lists a start as signed only once its signature verifies, lists the game as that key's,
// and keeps its run as that key's.
export async function playedLiveBy(driver, { origin, linuxBytes }) {
    // The day's seed changes with the hall's secret, so the game quits at once on its map,
    // whatever the map holds.
    const { seed } = await api(origin, '/api/daily');
    const keys = `engine\nn\n${seed}\n1\nq`;
    await driver.goto(`${origin}/?pauses=0`);
    await driver.waitFor(() => window.marrowdeep?.reading && document.querySelector('.let-watch') !== null, 30, 'the hall controls');
    await driver.type(`engine\nn\n${seed}\n1\n`);
    await driver.waitFor(() => window.marrowdeep.live?.state === 'live', 30, 'the game live');
    const { id } = await driver.evaluate(() => window.marrowdeep.live);
    const { x } = JSON.parse(await driver.evaluate(() => localStorage.getItem('marrowdeep.playerKey')));
    const fingerprint = fingerprintHex(x);
    const listed = (await api(origin, '/api/live')).games;
    const signed = listed.length === 1 && listed[0].id === id && listed[0].signed === true && listed[0].key === fingerprint;
    assert.ok(signed, `the hall lists ${JSON.stringify(listed)}, not one game signed by ${fingerprint}`);
    await driver.type('q');
    await driver.waitFor(() => window.marrowdeep.live?.state === 'ended', 60, "the hall's record of the game");
    sameBytes(await driver.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'the game played live');
    const { run } = await driver.evaluate(() => window.marrowdeep.live);
    const record = await api(origin, `/api/runs/${run}`);
    sameBytes(keysOfLink(record.run), keys, "the hall's run of the game played live");
    assert.ok(record.signed === true && record.key === fingerprint, `the hall's record is ${JSON.stringify(record)}`);
    const day = await api(origin, '/api/daily');
    assert.ok(day.runs.length === 1 && day.runs[0].id === run && day.practice.length === 0, `the day's board is ${JSON.stringify(day)}`);
}
