// The page's runs: a game survives a reload, a finished run replays from its link and from its
// saved file, bad links do nothing but say so, a second tab takes the game over, and a browser
// that refuses to store anything still plays. Each scenario takes what it needs (the browser,
// the page's origin, `linuxBytes(keys, second)`: what the Linux program with the marks library
// writes for the keys, its clock held at that second if one is given) and fails through
// node:assert. Each plays in a browser context of its own, whose storage starts empty.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { encodeRun } from '../../web/runs/run-link.js';
import { accessible } from './axe.mjs';
import { MAP_LEGEND, cutAtMap, inContext, openPage, reported, resumed, sameBytes, sameRows, typeKeys, waitInPage } from './harness.mjs';

const TAKEN = 'This game went on in another tab';
const NOT_KEPT = 'this game will not be kept';
const BAD = [
    'This run link is damaged or cut short, so it cannot be played.',
    'This run link is too long to be played: a run holds at most 100,000 keys.',
    'This run link was made by a page that this one cannot read.',
];

// The rows the terminal shows, trailing blanks cut, once it has drawn what it was given.
const rows = (page) =>
    page.evaluate(async () => {
        await new Promise((drawn) => requestAnimationFrame(() => requestAnimationFrame(drawn)));
        const screen = document.querySelector('.term').getBoundingClientRect();
        const inView = (row) => row.getBoundingClientRect().top >= screen.top - 1 && row.getBoundingClientRect().bottom <= screen.bottom + 1;
        return Array.from(document.querySelectorAll('.term-row'))
            .filter(inView)
            .map((row) => row.textContent.trimEnd());
    });

// `promise`, or a failure after `seconds`.
function within(promise, seconds, what) {
    let timer;
    const limit = new Promise((_, fail) => {
        timer = setTimeout(() => fail(new Error(`no ${what} within ${seconds} s`)), seconds * 1000);
    });
    return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}
const transcript = (page) => page.evaluate(() => window.marrowdeep.transcript);
const storedKeys = (page) => page.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.game'))?.keys ?? null);
const linkWithoutPauses = (link) => link.replace('/#', '/?pauses=0#');

// The page loaded, whether it asks a question or plays a link.
const LOADED = { ready: () => window.marrowdeep?.reading !== undefined, what: 'the page' };


// Half a game typed, the page reloaded: the screen left and the transcript so far come back,
// and the rest of the keys give the Linux program's bytes. With `second`, the game takes its seed
// from the clock, which stands at that second while the first half is typed and has moved on a
// day by the reload.
export async function resume({ browser, origin, linuxBytes, keys, second, what }) {
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const clockAt = (page, s) => page.evaluateOnNewDocument((ms) => (Date.now = () => ms), s * 1000 + 400);
        let clock = null;
        const prepare = async (page) => {
            if (second !== undefined) clock = await clockAt(page, second);
        };
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, { prepare });
        const cut = cutAtMap(keys, linuxBytes, second);
        await typeKeys(page, keys.slice(0, cut), what, cut);
        const before = { rows: await rows(page), transcript: await transcript(page) };
        sameBytes(before.transcript, linuxBytes(keys.slice(0, cut), second), 'before the reload');

        if (clock) {
            await page.removeScriptToEvaluateOnNewDocument(clock.identifier);
            clock = await clockAt(page, second + 86400);
        }
        await page.reload();
        await waitInPage(page, resumed, 60, 'the resumed game');
        const after = { rows: await rows(page), transcript: await transcript(page) };
        sameBytes(after.transcript, before.transcript, 'the transcript after the reload');
        sameRows(after.rows, before.rows, 'the screen after the reload', 'the screen left');
        assert.ok(after.rows.some((row) => row.includes(MAP_LEGEND)), 'the resumed screen shows no map');

        await typeKeys(page, keys.slice(cut), what);
        sameBytes(await transcript(page), linuxBytes(keys, second), 'the whole game');
        reported(problemsOf, what);
    });
}

// A finished game: it ends with the Linux program's bytes and gives a link (handed to `found.link`
// as soon as it is made, for the scenarios of the link); the run of the list saved as a file
// holds the keys typed; a name of markup shows as text in the list, and each run tells how it
// ended.
export async function finishedGame({ browser, origin, linuxBytes, keys, found }) {
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-runs-'));
    try {
        await inContext(browser, async (context) => {
            const problemsOf = [];
            const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, LOADED);
            await typeKeys(page, keys, 'the game to link');
            assert.ok(await page.evaluate(() => window.marrowdeep.ended), 'the game to link did not end');
            sameBytes(await transcript(page), linuxBytes(keys), 'the game played');
            await waitInPage(page, () => window.marrowdeep.link !== null, 30, 'the link of the game');
            const link = await page.evaluate(() => window.marrowdeep.link);
            assert.ok(link.startsWith(`${origin}/#run=`), `the link is ${link.slice(0, 80)}`);
            found.link = link;

            // The run of the list saved as a file, as a browser saves it.
            const cdp = await browser.target().createCDPSession();
            const downloads = { behavior: 'allow', downloadPath: folder, browserContextId: context.id, eventsEnabled: true };
            await cdp.send('Browser.setDownloadBehavior', downloads);
            const saved = new Promise((resolve) => cdp.on('Browser.downloadProgress', (e) => e.state === 'completed' && resolve()));
            const [save] = await page.$$('.run-list li button:nth-of-type(3)');
            await save.click();
            await within(saved, 30, 'saved file');
            const files = fs.readdirSync(folder);
            const name = keys.slice(0, keys.indexOf('\n'));
            const seed = keys.split('\n')[2];
            assert.deepEqual(files, [`marrowdeep-${name}-${seed}.keys`], `the folder holds ${JSON.stringify(files)}`);
            const bytes = fs.readFileSync(path.join(folder, files[0]), 'latin1');
            assert.ok(bytes === keys, `the file holds ${bytes.length} bytes, not the ${keys.length} keys typed`);
            sameBytes(linuxBytes(bytes), await transcript(page), 'the Linux program fed the file');

            // A name of markup shows as text in the list, and each run tells how it ended.
            await page.keyboard.press('Enter');
            await waitInPage(page, () => window.marrowdeep.games === 2 && window.marrowdeep.reading, 30, 'a new game');
            await typeKeys(page, '<b>hero</b>\nn\n1\n1q', 'the game of a name of markup');
            await waitInPage(page, () => document.querySelectorAll('.run-list li').length === 2, 30, 'two runs in the list');
            await accessible(page, 'the list of runs');
            const list = await page.evaluate(() => ({
                names: Array.from(document.querySelectorAll('.run-list .name'), (e) => e.textContent),
                about: Array.from(document.querySelectorAll('.run-list .about'), (e) => e.textContent),
                markup: document.querySelectorAll('.run-list b').length,
            }));
            assert.ok(
                JSON.stringify(list.names) === JSON.stringify(['<b>hero</b>', name]) && !list.markup,
                `the runs are named ${JSON.stringify(list.names)}, with ${list.markup} elements made of a name`,
            );
            // The saved game loses a fight in the tier, which costs a life, and quits later.
            const told = (i, what) => list.about[i].includes(` ${what} `);
            const howTheyEnded = told(0, 'seed 1') && told(0, 'quit') && told(1, `seed ${seed}`) && told(1, 'quit');
            assert.ok(howTheyEnded, `the runs are told as ${JSON.stringify(list.about)}`);
            reported(problemsOf, 'the finished game');
        });
    } finally {
        fs.rmSync(folder, { recursive: true, force: true });
    }
}

// The finished game's link, opened in a context of its own, replays at once to the same
// transcript and stores nothing; the same run as another version of the game would link it is
// told so and plays the same.
export async function linkReplayed({ browser, linuxBytes, keys, link }) {
    const want = linuxBytes(keys);
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const watcher = await openPage(context, linkWithoutPauses(link), problemsOf, LOADED);
        await waitInPage(watcher, () => window.marrowdeep.ended && !window.marrowdeep.replaying, 60, 'the replay of the link');
        sameBytes(await transcript(watcher), want, 'the replay at once');
        assert.equal(await watcher.evaluate(() => localStorage.length), 0, 'the replay of a link stored something');

        // The same run as another version of the game would link it: the page says so and plays it.
        // Made here, with the page's own module, as the page's script is one bundle.
        const older = await encodeRun({ keys, clock: null, version: '0.9' });
        await watcher.evaluate((text) => {
            window.location.hash = `#run=${text}`;
        }, older);
        const replayed = () => window.marrowdeep.games === 2 && window.marrowdeep.ended && !window.marrowdeep.replaying;
        await waitInPage(watcher, replayed, 60, 'the replay of the older link');
        const said = await watcher.evaluate(() => window.marrowdeep.said);
        assert.ok(said.includes('version 0.9 of the game'), `for a run of version 0.9 the page says "${said}"`);
        sameBytes(await transcript(watcher), want, 'the replay of version 0.9');
        reported(problemsOf, 'the link replayed');
    });
}

// The link again, paused as soon as its controls show, before the game reads a key, then played
// a key at a time, and taken over halfway: typed on, it gives the Linux program's bytes, and the
// run is stored with every key.
export async function linkTakenOver({ browser, linuxBytes, keys, link }) {
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const pauseAtOnce = () => {
            new MutationObserver((changes, observer) => {
                const controls = document.querySelector('.replay');
                if (!controls || controls.hidden) return;
                observer.disconnect();
                controls.querySelector('button').click();
            }).observe(document, { subtree: true, childList: true, attributes: true });
        };
        const prepare = (page) => page.evaluateOnNewDocument(pauseAtOnce);
        const taker = await openPage(context, linkWithoutPauses(link), problemsOf, { ...LOADED, prepare });
        const progress = await taker.evaluate(() => document.querySelector('.replay .progress').textContent);
        assert.equal(progress, `key 0 of ${keys.length.toLocaleString('en')}`, 'the replay did not wait at its first key when paused');
        const half = keys.length >> 1;
        const handed = await taker.evaluate(async (target) => {
            const step = document.querySelectorAll('.replay button')[1];
            const progress = document.querySelector('.replay .progress');
            const count = () => Number(progress.textContent.split(' ')[1].replace(/,/g, ''));
            for (let turns = 0; count() < target && turns < 1e6; ++turns) {
                if (window.marrowdeep.reading) step.click();
                await new Promise((next) => setTimeout(next, 0));
            }
            return count();
        }, half);
        await waitInPage(taker, () => window.marrowdeep.reading, 30, 'the game after half the keys');
        await taker.click('.replay button:nth-of-type(3)'); // take over
        assert.ok(!(await taker.evaluate(() => window.marrowdeep.replaying)), 'still replaying after the take-over');
        await typeKeys(taker, keys.slice(handed), 'the game taken over');
        sameBytes(await transcript(taker), linuxBytes(keys), 'the game taken over');
        const run = await taker.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.runs'))?.[0]);
        assert.ok(run?.keys === keys, `the run taken over was stored with ${run?.keys.length} keys, not ${keys.length}`);
        reported(problemsOf, 'the link taken over');
    });
}

// Bytes as base64url.
const b64 = (bytes) => Buffer.from(bytes).toString('base64url');

// At least 200 links that hold no run to play, made from a good one (`link`) and from nothing.
function badLinks(link) {
    const good = Buffer.from(link.slice(link.indexOf('#run=') + 5), 'base64url');
    let state = 24;
    const random = (n) => {
        state = (state * 1103515245 + 12345) % 2147483648;
        return Math.floor((state / 2147483648) * n);
    };
    const bytes = (n) => Uint8Array.from({ length: n }, () => random(256));
    const links = [];
    for (let i = 0; i < 70; ++i) links.push(b64(bytes(1 + random(300))));
    for (let i = 0; i < 70; ++i) links.push(b64(good.subarray(0, random(good.length))));
    for (let i = 0; i < 70; ++i) {
        const flipped = Buffer.from(good);
        const bit = random(flipped.length * 8);
        flipped[bit >> 3] ^= 1 << (bit & 7);
        links.push(b64(flipped));
    }
    for (let version = 0; version < 256; version += 12) {
        if (version === good[0]) continue;
        const other = Buffer.from(good);
        other[0] = version;
        links.push(b64(other));
    }
    links.push('', 'not*base64', 'A', '%%%', '====', 'A'.repeat(70000), b64(bytes(60000)));
    return [...new Set(links)];
}

// A run of more keys than a link may hold, with a good check: only its size is wrong.
async function oversized() {
    return encodeRun({ keys: 'd'.repeat(100001), clock: null, version: '2.3' });
}

// Every bad link shows one of the page's sentences for them, and nothing else: no error, no game
// started, the stored unfinished game as it was.
export async function badLinksShowSentence({ browser, origin, link }) {
    await inContext(browser, async (context) => {
        const problemsOf = [];
        // A bad link in the address the page opens with: the sentence, and a game as without it.
        const page = await openPage(context, `${origin}/?pauses=0#run=AQAAbad`, problemsOf, LOADED);
        await waitInPage(page, () => window.marrowdeep.reading && window.marrowdeep.said !== '', 30, 'the page opened with a bad link');
        const first = await page.evaluate(() => window.marrowdeep.said);
        assert.equal(first, BAD[0], `bad link in the address: the page says "${first}"`);
        const unfinished = 'links\nn\n3\n1dsaw';
        await typeKeys(page, unfinished, 'the unfinished game', unfinished.length);
        const stored = await page.evaluate(() => JSON.stringify({ ...localStorage }));
        const links = badLinks(link);
        links.push(await oversized());
        const said = await page.evaluate(async (texts) => {
            const note = document.querySelector('.note');
            const out = [];
            for (const text of texts) {
                note.replaceChildren();
                window.location.hash = `#run=${text}`;
                for (let turns = 0; window.marrowdeep.said === '' && turns < 5000; ++turns) await new Promise((next) => setTimeout(next, 0));
                out.push([window.marrowdeep.said, window.marrowdeep.replaying, window.marrowdeep.games]);
            }
            return out;
        }, links);
        console.log(`bad links: ${links.length}`);
        // Every link that was not told as bad, at once.
        const untold = said.flatMap(([sentence, replaying, games], i) =>
            !BAD.includes(sentence) || replaying || games !== 1
                ? [`bad link ${i} (${links[i].slice(0, 40)}...): the page says "${sentence}", replaying ${replaying}, ${games} games`]
                : [],
        );
        assert.deepEqual(untold, [], untold.join('\n'));
        const told = (sentence) => said.some(([one]) => one === sentence);
        assert.ok(told(BAD[1]) && told(BAD[2]), 'not every kind of bad link was told');
        assert.equal(await page.evaluate(() => JSON.stringify({ ...localStorage })), stored, 'the storage changed');
        assert.ok(links.length >= 200, `only ${links.length} bad links`);
        reported(problemsOf, 'bad links');
    });
}

// A second tab takes the game over: the first says so and writes no more; the second goes on
// and the record holds every key, once.
export async function twoTabs({ browser, origin, linuxBytes, keys }) {
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const cut = keys.length >> 1;
        const first = await openPage(context, `${origin}/?pauses=0`, problemsOf, LOADED);
        await typeKeys(first, keys.slice(0, cut), 'the first tab', cut);
        const second = await openPage(context, `${origin}/?pauses=0`, problemsOf, LOADED);
        await waitInPage(second, () => window.marrowdeep?.reading && !window.marrowdeep.replaying, 60, 'the game in the second tab');
        await waitInPage(first, () => window.marrowdeep.ended, 30, 'the first tab to let the game go');
        await first.bringToFront(); // a tab behind others draws nothing
        const shownFirst = (await rows(first)).join('\n');
        assert.ok(shownFirst.includes(TAKEN), `the first tab shows\n  ${shownFirst.split('\n').slice(-3).join('\n  ')}`);
        await first.bringToFront();
        await first.keyboard.type('wasd');
        await typeKeys(second, keys.slice(cut), 'the second tab');
        const lastRun = () => JSON.parse(localStorage.getItem('marrowdeep.runs'))?.[0]?.keys;
        const recorded = (await storedKeys(second)) ?? (await second.evaluate(lastRun));
        assert.ok(recorded === keys, `the record holds ${recorded?.length} keys, not the ${keys.length} typed in both`);
        sameBytes(await transcript(second), linuxBytes(keys), 'the second tab');
        reported(problemsOf, 'two tabs');
    });
}

// Storage refused: the page says the game will not be kept, and it plays on.
export async function storageRefused({ browser, origin, linuxBytes }) {
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const refuse = () => {
            Storage.prototype.setItem = () => {
                throw new DOMException('The storage is full.', 'QuotaExceededError');
            };
        };
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, { prepare: (p) => p.evaluateOnNewDocument(refuse) });
        const keys = 'nostore\nn\n11\n2ddsswa';
        await typeKeys(page, keys, 'the game not kept');
        const said = await page.evaluate(() => window.marrowdeep.said);
        assert.ok(said.includes(NOT_KEPT), `the page says "${said}"`);
        sameBytes(await transcript(page), linuxBytes(keys), 'the game not kept');
        reported(problemsOf, 'storage refused');
    });
}

// The game whose seed answer becomes y: `clockTour` (a generated game with a typed seed) with
// its seed from the clock.
export function seededByTheClock(clockTour) {
    const lines = clockTour.split('\n');
    return `${lines[0]}\ny\n${lines.slice(3).join('\n')}`;
}
