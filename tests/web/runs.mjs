// The page's runs: a game survives a reload, a finished run replays from its link and from its
// saved file, bad links do nothing but say so, a second tab takes the game over, and a browser
// that refuses to store anything still plays. Each scenario takes what it needs (the browser,
// the page's origin, `linuxBytes(keys, second)`: what the Linux program with the marks library
// writes for the keys, its clock held at that second if one is given) and answers a list of
// failures. Each plays in a browser context of its own, whose storage starts empty.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { encodeRun } from '../../web/runs/run-link.js';
import { waitInPage, watch } from './browser.mjs';

const MAP_LEGEND = 'wasd and q to exit';
const TAKEN = 'This game went on in another tab';
const NOT_KEPT = 'this game will not be kept';
const BAD = [
    'This run link is damaged or cut short, so it cannot be played.',
    'This run link is too long to be played: a run holds at most 100,000 keys.',
    'This run link was made by a page that this one cannot read.',
];

const settled = () =>
    (window.marrowdeep.reading || window.marrowdeep.ended) && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;
const recordHas = (n) => JSON.parse(localStorage.getItem('marrowdeep.game'))?.keys.length === n;

async function openPage(context, url, problemsOf, beforeLoad) {
    const page = await context.newPage();
    const problems = await watch(page, new URL(url).origin);
    if (problemsOf) problemsOf.push(problems);
    if (beforeLoad) await page.evaluateOnNewDocument(beforeLoad);
    await page.goto(url);
    await waitInPage(page, () => window.marrowdeep?.reading !== undefined, 30, 'the page');
    return page;
}

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

// Hands `text` to the terminal as a paste of it.
const paste = (page, text) =>
    page.$eval(
        '.term',
        (screen, t) => {
            const data = new DataTransfer();
            data.setData('text/plain', t);
            screen.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
        },
        text,
    );

// Types `keys` and waits until the game has read them all (the stored record has `total` keys).
// The keys between two line ends go in as one piece, pasted, and each line end as Enter: what the
// game reads is the same, and a long game is typed in a moment.
async function type(page, keys, total, what) {
    await page.bringToFront();
    for (const [i, piece] of keys.split('\n').entries()) {
        if (i > 0) await page.keyboard.press('Enter');
        if (piece) await paste(page, piece);
    }
    await waitInPage(page, settled, 120, `the end of the keys of ${what}`);
    if (total !== undefined) {
        await waitInPage(page, recordHas, 30, `the record of ${what}`, total);
    }
}

// A cut of `keys` past their middle where the game shows the map it drew after a clear, waiting
// for a key: what a terminal shows there does not hang on when the echo of a key came.
function cutAtMap(keys, linuxBytes, second) {
    for (let k = keys.length >> 1; k < keys.length; ++k) {
        const out = linuxBytes(keys.slice(0, k), second);
        const screen = out.slice(out.lastIndexOf('<clear>'));
        if (screen.includes(MAP_LEGEND) && !screen.includes('<sleep')) return k;
    }
    throw new Error('these keys never stop on the map past their middle');
}

function same(failures, what, got, want) {
    if (got === want) return;
    let at = 0;
    while (at < got.length && at < want.length && got[at] === want[at]) ++at;
    const near = (s) => JSON.stringify(s.slice(at, at + 80));
    failures.push(`${what}: ${got.length} bytes against ${want.length}, parting at byte ${at}: ${near(got)} against ${near(want)}`);
}

function reported(failures, what, problemsOf) {
    const problems = problemsOf.flat();
    if (problems.length) failures.push(`${what}: the browser reported\n  ${problems.join('\n  ')}`);
}

// Half a game typed, the page reloaded: the screen left and the transcript so far come back,
// and the rest of the keys give the Linux program's bytes. With `second`, the game takes its seed
// from the clock, which stands at that second while the first half is typed and has moved on a
// day by the reload.
export async function resume({ browser, origin, linuxBytes, keys, second, what }) {
    const failures = [];
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    try {
        const page = await context.newPage();
        problemsOf.push(await watch(page, origin));
        const clockAt = (s) => page.evaluateOnNewDocument((ms) => (Date.now = () => ms), s * 1000 + 400);
        let clock = second !== undefined ? await clockAt(second) : null;
        await page.goto(`${origin}/?pauses=0`);
        await waitInPage(page, () => window.marrowdeep?.reading, 30, 'the name question');
        const cut = cutAtMap(keys, linuxBytes, second);
        await type(page, keys.slice(0, cut), cut, what);
        const before = { rows: await rows(page), transcript: await transcript(page) };
        same(failures, `${what}: before the reload`, before.transcript, linuxBytes(keys.slice(0, cut), second));

        if (clock) {
            await page.removeScriptToEvaluateOnNewDocument(clock.identifier);
            clock = await clockAt(second + 86400);
        }
        await page.reload();
        const resumed = () => window.marrowdeep?.reading && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;
        await waitInPage(page, resumed, 60, 'the resumed game');
        const after = { rows: await rows(page), transcript: await transcript(page) };
        same(failures, `${what}: the transcript after the reload`, after.transcript, before.transcript);
        if (JSON.stringify(after.rows) !== JSON.stringify(before.rows)) {
            const shown = (list) => list.join('\n  ');
            failures.push(`${what}: the screen after the reload is\n  ${shown(after.rows)}\nnot the screen left\n  ${shown(before.rows)}`);
        }
        if (!after.rows.some((row) => row.includes(MAP_LEGEND))) failures.push(`${what}: the resumed screen shows no map`);

        await type(page, keys.slice(cut), undefined, what);
        same(failures, `${what}: the whole game`, await transcript(page), linuxBytes(keys, second));
        reported(failures, what, problemsOf);
    } finally {
        await context.close();
    }
    return failures;
}

// A finished game's link, opened in another context, replays at once to the same transcript;
// taken over halfway and typed on, it gives the Linux program's bytes; the run's saved file
// gives them too. Answers the failures and, for the bad links, the link.
export async function linkAndFile({ browser, origin, linuxBytes, keys }) {
    const failures = [];
    const problemsOf = [];
    const want = linuxBytes(keys);
    const contexts = [];
    const context = async () => {
        contexts.push(await browser.createBrowserContext());
        return contexts[contexts.length - 1];
    };
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-runs-'));
    let link = null;
    try {
        // The game played, to its end.
        const first = await context();
        const page = await openPage(first, `${origin}/?pauses=0`, problemsOf);
        await type(page, keys, undefined, 'the game to link');
        if (!(await page.evaluate(() => window.marrowdeep.ended))) failures.push('link: the game to link did not end');
        same(failures, 'link: the game played', await transcript(page), want);
        await waitInPage(page, () => window.marrowdeep.link !== null, 30, 'the link of the game');
        link = await page.evaluate(() => window.marrowdeep.link);
        if (!link.startsWith(`${origin}/#run=`)) failures.push(`link: the link is ${link.slice(0, 80)}`);

        // The run of the list saved as a file, as a browser saves it.
        const cdp = await browser.target().createCDPSession();
        const downloads = { behavior: 'allow', downloadPath: folder, browserContextId: first.id, eventsEnabled: true };
        await cdp.send('Browser.setDownloadBehavior', downloads);
        const saved = new Promise((resolve) => cdp.on('Browser.downloadProgress', (e) => e.state === 'completed' && resolve()));
        const [save] = await page.$$('.run-list li button:nth-of-type(3)');
        await save.click();
        await within(saved, 30, 'saved file');
        const files = fs.readdirSync(folder);
        const name = keys.slice(0, keys.indexOf('\n'));
        const seed = keys.split('\n')[2];
        if (JSON.stringify(files) !== JSON.stringify([`marrowdeep-${name}-${seed}.keys`])) {
            failures.push(`file: the folder holds ${JSON.stringify(files)}`);
        } else {
            const bytes = fs.readFileSync(path.join(folder, files[0]), 'latin1');
            if (bytes !== keys) failures.push(`file: the file holds ${bytes.length} bytes, not the ${keys.length} keys typed`);
            same(failures, 'file: the Linux program fed the file', linuxBytes(bytes), await transcript(page));
        }

        // A name of markup shows as text in the list, and each run tells how it ended.
        await page.keyboard.press('Enter');
        await waitInPage(page, () => window.marrowdeep.games === 2 && window.marrowdeep.reading, 30, 'a new game');
        await type(page, '<b>hero</b>\nn\n1\n1q', undefined, 'the game of a name of markup');
        await waitInPage(page, () => document.querySelectorAll('.run-list li').length === 2, 30, 'two runs in the list');
        const list = await page.evaluate(() => ({
            names: Array.from(document.querySelectorAll('.run-list .name'), (e) => e.textContent),
            about: Array.from(document.querySelectorAll('.run-list .about'), (e) => e.textContent),
            markup: document.querySelectorAll('.run-list b').length,
        }));
        if (JSON.stringify(list.names) !== JSON.stringify(['<b>hero</b>', name]) || list.markup) {
            failures.push(`list: the runs are named ${JSON.stringify(list.names)}, with ${list.markup} elements made of a name`);
        }
        // The saved game loses a fight in the tier, which costs a life, and quits later.
        const told = (i, what) => list.about[i].includes(` ${what} `);
        if (!told(0, 'seed 1') || !told(0, 'quit') || !told(1, `seed ${seed}`) || !told(1, 'quit')) {
            failures.push(`list: the runs are told as ${JSON.stringify(list.about)}`);
        }

        // The link in a context of its own, at once.
        const watcher = await openPage(await context(), link.replace('/#', '/?pauses=0#'), problemsOf);
        await waitInPage(watcher, () => window.marrowdeep.ended && !window.marrowdeep.replaying, 60, 'the replay of the link');
        same(failures, 'link: the replay at once', await transcript(watcher), want);
        if (await watcher.evaluate(() => localStorage.length)) failures.push('link: the replay of a link stored something');

        // The same run as another version of the game would link it: the page says so and plays it.
        // Made here, with the page's own module, as the page's script is one bundle.
        const older = await encodeRun({ keys, clock: null, version: '0.9' });
        await watcher.evaluate((text) => {
            window.location.hash = `#run=${text}`;
        }, older);
        const replayed = () => window.marrowdeep.games === 2 && window.marrowdeep.ended && !window.marrowdeep.replaying;
        await waitInPage(watcher, replayed, 60, 'the replay of the older link');
        const said = await watcher.evaluate(() => window.marrowdeep.said);
        if (!said.includes('version 0.9 of the game')) failures.push(`link: for a run of version 0.9 the page says "${said}"`);
        same(failures, 'link: the replay of version 0.9', await transcript(watcher), want);

        // The link again, paused as soon as its controls show, before the game reads a key, then
        // played a key at a time, and taken over halfway.
        const pauseAtOnce = () => {
            new MutationObserver((changes, observer) => {
                const controls = document.querySelector('.replay');
                if (!controls || controls.hidden) return;
                observer.disconnect();
                controls.querySelector('button').click();
            }).observe(document, { subtree: true, childList: true, attributes: true });
        };
        const taker = await openPage(await context(), link.replace('/#', '/?pauses=0#'), problemsOf, pauseAtOnce);
        const progress = await taker.evaluate(() => document.querySelector('.replay .progress').textContent);
        if (progress !== `key 0 of ${keys.length.toLocaleString('en')}`) {
            failures.push('link: the replay did not wait at its first key when paused');
        }
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
        if (await taker.evaluate(() => window.marrowdeep.replaying)) failures.push('link: still replaying after the take-over');
        await type(taker, keys.slice(handed), undefined, 'the game taken over');
        same(failures, 'link: the game taken over', await transcript(taker), want);
        const run = await taker.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.runs'))?.[0]);
        if (run?.keys !== keys) failures.push(`link: the run taken over was stored with ${run?.keys.length} keys, not ${keys.length}`);
        reported(failures, 'link', problemsOf);
    } finally {
        for (const c of contexts) await c.close();
        fs.rmSync(folder, { recursive: true, force: true });
    }
    return { failures, link };
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
    const failures = [];
    const context = await browser.createBrowserContext();
    try {
        const problemsOf = [];
        // A bad link in the address the page opens with: the sentence, and a game as without it.
        const page = await openPage(context, `${origin}/?pauses=0#run=AQAAbad`, problemsOf);
        await waitInPage(page, () => window.marrowdeep.reading && window.marrowdeep.said !== '', 30, 'the page opened with a bad link');
        const first = await page.evaluate(() => window.marrowdeep.said);
        if (first !== BAD[0]) failures.push(`bad link in the address: the page says "${first}"`);
        const unfinished = 'links\nn\n3\n1dsaw';
        await type(page, unfinished, unfinished.length, 'the unfinished game');
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
        said.forEach(([sentence, replaying, games], i) => {
            if (!BAD.includes(sentence) || replaying || games !== 1) {
                const link = `bad link ${i} (${links[i].slice(0, 40)}...)`;
                failures.push(`${link}: the page says "${sentence}", replaying ${replaying}, ${games} games`);
            }
        });
        if (!said.some(([sentence]) => sentence === BAD[1]) || !said.some(([sentence]) => sentence === BAD[2])) {
            failures.push('bad links: not every kind of bad link was told');
        }
        if ((await page.evaluate(() => JSON.stringify({ ...localStorage }))) !== stored) failures.push('bad links: the storage changed');
        if (links.length < 200) failures.push(`only ${links.length} bad links`);
        reported(failures, 'bad links', problemsOf);
        console.log(`bad links: ${links.length}`);
    } finally {
        await context.close();
    }
    return failures;
}

// A second tab takes the game over: the first says so and writes no more; the second goes on
// and the record holds every key, once.
export async function twoTabs({ browser, origin, linuxBytes, keys }) {
    const failures = [];
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    try {
        const cut = keys.length >> 1;
        const first = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await type(first, keys.slice(0, cut), cut, 'the first tab');
        const second = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(second, () => window.marrowdeep?.reading && !window.marrowdeep.replaying, 60, 'the game in the second tab');
        await waitInPage(first, () => window.marrowdeep.ended, 30, 'the first tab to let the game go');
        await first.bringToFront(); // a tab behind others draws nothing
        const shown = (await rows(first)).join('\n');
        if (!shown.includes(TAKEN)) failures.push(`two tabs: the first tab shows\n  ${shown.split('\n').slice(-3).join('\n  ')}`);
        await first.bringToFront();
        await first.keyboard.type('wasd');
        await type(second, keys.slice(cut), undefined, 'the second tab');
        const lastRun = () => JSON.parse(localStorage.getItem('marrowdeep.runs'))?.[0]?.keys;
        const recorded = (await storedKeys(second)) ?? (await second.evaluate(lastRun));
        if (recorded !== keys) failures.push(`two tabs: the record holds ${recorded?.length} keys, not the ${keys.length} typed in both`);
        same(failures, 'two tabs: the second tab', await transcript(second), linuxBytes(keys));
        reported(failures, 'two tabs', problemsOf);
    } finally {
        await context.close();
    }
    return failures;
}

// Storage refused: the page says the game will not be kept, and it plays on.
export async function storageRefused({ browser, origin, linuxBytes }) {
    const failures = [];
    const context = await browser.createBrowserContext();
    try {
        const page = await context.newPage();
        const problems = await watch(page, origin);
        await page.evaluateOnNewDocument(() => {
            Storage.prototype.setItem = () => {
                throw new DOMException('The storage is full.', 'QuotaExceededError');
            };
        });
        await page.goto(`${origin}/?pauses=0`);
        await waitInPage(page, () => window.marrowdeep?.reading, 30, 'the name question');
        const keys = 'nostore\nn\n11\n2ddsswa';
        await type(page, keys, undefined, 'the game not kept');
        const said = await page.evaluate(() => window.marrowdeep.said);
        if (!said.includes(NOT_KEPT)) failures.push(`storage refused: the page says "${said}"`);
        same(failures, 'storage refused', await transcript(page), linuxBytes(keys));
        if (problems.length) failures.push(`storage refused: the browser reported\n  ${problems.join('\n  ')}`);
    } finally {
        await context.close();
    }
    return failures;
}

// Every scenario above: `tour` is a generated game with a typed seed, `clockTour` another whose
// seed answer becomes y, and `finished` a game that ends, with a typed seed.
export async function runScenarios({ browser, origin, linuxBytes, tour, clockTour, finished }) {
    const lines = clockTour.split('\n');
    const fromClock = `${lines[0]}\ny\n${lines.slice(3).join('\n')}`;
    const failures = [
        ...(await resume({ browser, origin, linuxBytes, keys: tour, what: 'resume' })),
        ...(await resume({ browser, origin, linuxBytes, keys: fromClock, second: 1796000000, what: 'resume with the clock' })),
    ];
    const linked = await linkAndFile({ browser, origin, linuxBytes, keys: finished });
    failures.push(...linked.failures);
    if (linked.link) failures.push(...(await badLinksShowSentence({ browser, origin, link: linked.link })));
    failures.push(...(await twoTabs({ browser, origin, linuxBytes, keys: tour.slice(0, 300) })));
    failures.push(...(await storageRefused({ browser, origin, linuxBytes })));
    return failures;
}
