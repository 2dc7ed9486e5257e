// Web page benchmark: not a test, run by hand on the web zip the package workflow makes.
//
//   node bench/web.mjs --zip out/package/marrowdeep-2.3-web.zip [--chromium PATH]
//                      [--loads N] [--keys N] [--taps N] [--screenshot FILE] [--fuzz FUZZ_DRIVER]
//
// It unpacks the zip into a scratch folder beside a blank page (one script that writes one line),
// serves both on 127.0.0.1 and measures in headless Chromium, each load also as a ratio to the
// blank page loaded the same way:
//   - a cold load, with nothing cached: from the navigation to the name question written to the
//     terminal, --loads times in a new browser with an empty profile, and --loads times as a
//     first visit in a new tab of a browser already running (a fresh browser context, so no
//     service worker, with the cache off);
//   - a repeat visit: a new tab in the same context, the cache still off, the page's files all
//     from its service worker's cache;
//   - where a first visit and a repeat visit spend their time, from performance traces of three
//     more of each (a trace slows a load down, so these are not counted above);
//   - a map key: from its key event to the terminal having taken the redrawn map, with pauses
//     off, for --keys keys after the first map (steps there and back, a walk into a wall and a
//     key the map does not know, over and over, as the Linux benchmark plays them);
//   - a tap on a panel key: from the tap's touch end to the terminal having taken the redrawn
//     map, --taps taps on a 390 x 844 touch screen, the same walk;
//   - a game left unfinished, of 4,600 keys (generated tour 244 of the fuzz driver, its q left
//     out, over and over; --fuzz, by default the one in out/build/default): what it adds to a
//     repeat visit until the player's screen shows again, as a ratio to the same visit with no
//     game stored, --loads times each in turn; the same game's link opened with pauses off, to
//     the end of its replay at once; and the length of its link, and of the link of generated
//     tour 17, whose 4,686 keys do not repeat;
//   - the zip's bytes, and each of the page's files gzipped at the highest level.
// With --screenshot it saves a picture of the page showing the map.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import zlib from 'node:zlib';
import { launch, serve, waitInPage, watch } from '../tests/web/browser.mjs';
import { CATEGORIES, phases } from './first-visit.mjs';

const { values: opt } = parseArgs({
    options: {
        zip: { type: 'string' },
        chromium: { type: 'string', default: '/usr/bin/chromium' },
        loads: { type: 'string', default: '7' },
        keys: { type: 'string', default: '400' },
        taps: { type: 'string', default: '200' },
        screenshot: { type: 'string' },
        fuzz: { type: 'string', default: path.join(import.meta.dirname, '../out/build/default/tests/fuzz/marrowdeep_fuzz') },
    },
});
if (!opt.zip) throw new Error('--zip is missing');
const loads = Math.max(1, Number(opt.loads));
const keyCount = Math.max(200, Number(opt.keys));
const tapCount = Math.max(100, Number(opt.taps));

// Seed 1 starts on bare floor with bare floor to the right and a wall above: walking right and
// back never meets a tile or a fight.
const ANSWERS = ['bench', 'n', '1'];
const CYCLE = ['d', 'a', 'w', 'x'];
const MAP_LEGEND = 'wasd and q to exit';

function percentile(sorted, p) {
    return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}
const ms = (x) => `${x.toFixed(1)} ms`;
const median = (list) => percentile([...list].sort((a, b) => a - b), 50);
const kb = (x) => `${(x / 1024).toFixed(1)} KB`;

// The page in a folder of its own, so its service worker's scope is that folder, and beside it
// the blank page: one script that writes one line.
const site = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-bench-'));
const pageDir = path.join(site, 'page');
const unzip = spawnSync('unzip', ['-q', path.resolve(opt.zip), '-d', pageDir]);
if (unzip.status !== 0) throw new Error(`cannot unpack ${opt.zip}: ${unzip.stderr}`);
fs.mkdirSync(path.join(site, 'blank'));
fs.writeFileSync(
    path.join(site, 'blank', 'index.html'),
    '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n<title>Blank</title>\n<link rel="icon" href="data:,">\n' +
        '<script src="blank.js" defer></script>\n</head>\n<body></body>\n</html>\n',
);
fs.writeFileSync(
    path.join(site, 'blank', 'blank.js'),
    "document.body.textContent = 'Please insert your name:';\nwindow.shown = performance.now();\n",
);
const server = await serve(site);

// Waits until the game waits for a key and the terminal has taken all it wrote.
const settled = () => window.marrowdeep?.reading && window.marrowdeep.writing === 0;

// Waits until the game has written more than `length` bytes and waits again, with all it wrote
// taken by the terminal: the answer to one key or tap.
async function answered(page, length, what) {
    await waitInPage(
        page,
        (before) => window.marrowdeep.transcript.length > before && window.marrowdeep.reading && window.marrowdeep.writing === 0,
        30,
        what,
        length,
    );
}

// The two pages: where each is, when it is there and when its text was shown, in ms from the
// navigation.
const OURS = {
    url: `${server.origin}/page/?pauses=0`,
    what: 'the name question',
    ready: settled,
    shown: () => window.marrowdeep.lastWritten - performance.getEntriesByType('navigation')[0].startTime,
};
const BLANK = {
    url: `${server.origin}/blank/`,
    what: "the blank page's line",
    ready: () => window.shown !== undefined,
    shown: () => window.shown - performance.getEntriesByType('navigation')[0].startTime,
};

// One load of `which` in a new tab of `context` (a browser or a browser context), the cache
// off: the time to its text, and how many of the page's files came from the service worker and
// how many from the network. With `keep`, the tab stays open for the caller.
async function visit(context, which, keep = false) {
    const page = await context.newPage();
    await page.setCacheEnabled(false);
    const problems = await watch(page, server.origin);
    const served = { worker: 0, network: 0 };
    page.on('response', (response) => {
        served[response.fromServiceWorker() ? 'worker' : 'network'] += 1;
    });
    await page.goto(which.url);
    await waitInPage(page, which.ready, 30, which.what);
    const shown = await page.evaluate(which.shown);
    if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
    if (!keep) await page.close();
    return { shown, served, page };
}

// Loads in a new browser each time, the blank page's and ours in turn.
async function newBrowserLoads() {
    const times = { ours: [], blank: [] };
    for (let i = 0; i < 2 * loads; ++i) {
        const which = i % 2 ? 'blank' : 'ours';
        const chromium = await launch(opt.chromium);
        try {
            times[which].push((await visit(chromium.browser, which === 'ours' ? OURS : BLANK)).shown);
        } finally {
            await chromium.close();
        }
    }
    return times;
}

// First and repeat visits in new tabs of one browser, each round in a fresh browser context: the
// blank page and ours as a first visit (in turn, each round the other first), then, once the
// service worker keeps our page, both again.
async function tabLoads() {
    const times = { first: [], blankFirst: [], repeat: [], blankRepeat: [] };
    const chromium = await launch(opt.chromium);
    try {
        for (let round = -1; round < loads; ++round) {
            const context = await chromium.browser.createBrowserContext();
            try {
                const firstPair = [];
                for (const which of round % 2 ? [BLANK, OURS] : [OURS, BLANK]) {
                    const load = await visit(context, which, which === OURS);
                    if (which === OURS) {
                        if (load.served.worker) throw new Error('a first visit had files from a service worker');
                        await waitInPage(load.page, () => navigator.serviceWorker.controller !== null, 30, 'the service worker');
                        await load.page.close();
                    }
                    firstPair.push([which, load.shown]);
                }
                const repeat = await visit(context, OURS);
                if (repeat.served.network) throw new Error(`a repeat visit had ${repeat.served.network} files from the network`);
                const blankRepeat = await visit(context, BLANK);
                if (round < 0) continue; // the browser's own first pages, not counted
                for (const [which, shown] of firstPair) times[which === OURS ? 'first' : 'blankFirst'].push(shown);
                times.repeat.push(repeat.shown);
                times.blankRepeat.push(blankRepeat.shown);
            } finally {
                await context.close();
            }
        }
    } finally {
        await chromium.close();
    }
    return times;
}

// Three traced first visits, or with `repeat` three traced repeat visits (each after a first
// visit left the service worker in charge): the phases of the one with the median time to the
// name question.
async function whereTheTimeGoes(repeat) {
    const runs = [];
    const chromium = await launch(opt.chromium);
    try {
        for (let i = 0; i < 3; ++i) {
            const context = await chromium.browser.createBrowserContext();
            if (repeat) {
                const first = await visit(context, OURS, true);
                await waitInPage(first.page, () => navigator.serviceWorker.controller !== null, 30, 'the service worker');
                await first.page.close();
            }
            const page = await context.newPage();
            await page.setCacheEnabled(false);
            await page.tracing.start({ categories: CATEGORIES });
            await page.goto(OURS.url);
            await waitInPage(page, settled, 30, OURS.what);
            const [resources, shown] = await page.evaluate(() => [
                [
                    { name: 'document', responseEnd: performance.getEntriesByType('navigation')[0].responseEnd },
                    ...performance.getEntriesByType('resource').map((r) => ({ name: r.name, responseEnd: r.responseEnd })),
                ],
                window.marrowdeep.lastWritten,
            ]);
            runs.push({ ...phases(Buffer.from(await page.tracing.stop()).toString(), resources, shown), shown });
            await context.close();
        }
    } finally {
        await chromium.close();
    }
    return runs.sort((a, b) => a.shown - b.shown)[1];
}

async function mapKeys() {
    const chromium = await launch(opt.chromium);
    try {
        const page = await chromium.browser.newPage();
        await page.setViewport({ width: 1040, height: 840 });
        const problems = await watch(page, server.origin);
        await page.evaluateOnNewDocument(() => {
            window.keyEvents = [];
            document.addEventListener('keydown', (e) => window.keyEvents.push(e.timeStamp), true);
        });
        await page.goto(OURS.url);
        await waitInPage(page, settled, 30, 'the name question');
        for (const answer of ANSWERS) {
            await page.keyboard.type(answer);
            await page.keyboard.press('Enter');
            await waitInPage(page, settled, 30, `the question after ${answer}`);
        }
        // The build: 1 for Strength, then the first map.
        await page.keyboard.type('1');
        await waitInPage(page, settled, 30, 'the first map');
        const times = [];
        for (let i = 0; i < keyCount; ++i) {
            const before = await page.evaluate(() => window.marrowdeep.transcript.length);
            await page.keyboard.press(CYCLE[i % CYCLE.length]);
            await answered(page, before, `the map after key ${i + 1}`);
            const [redrawn, took] = await page.evaluate(
                (length) => [
                    window.marrowdeep.transcript.slice(length),
                    window.marrowdeep.lastWritten - window.keyEvents[window.keyEvents.length - 1],
                ],
                before,
            );
            if (!redrawn.startsWith('<clear>') || !redrawn.includes(MAP_LEGEND)) {
                throw new Error(`key ${i + 1} did not redraw the map: ${JSON.stringify(redrawn.slice(0, 200))}`);
            }
            times.push(took);
        }
        if (opt.screenshot) await page.screenshot({ path: opt.screenshot });
        if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
        return times.sort((a, b) => a - b);
    } finally {
        await chromium.close();
    }
}

// The same walk tapped on the touch panel of a phone-sized page: the name typed into the line
// field, every other key a tap. Null when the page has no panel.
async function panelTaps() {
    const chromium = await launch(opt.chromium);
    try {
        const page = await chromium.browser.newPage();
        await page.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 3 });
        const problems = await watch(page, server.origin);
        await page.evaluateOnNewDocument(() => {
            window.tapEnds = [];
            window.clicks = [];
            document.addEventListener('touchend', (e) => window.tapEnds.push(e.timeStamp), true);
            // When the page itself gets the click the browser makes of the tap.
            document.addEventListener('click', () => window.clicks.push(performance.now()), true);
        });
        await page.goto(OURS.url);
        await waitInPage(page, settled, 30, 'the name question');
        if (!(await page.$('button[data-key="d"]')) || !(await page.$('input[data-line]'))) return null;
        const tap = (key) => page.tap(`button[data-key="${key}"]`);
        await page.type('input[data-line]', ANSWERS[0]);
        await tap('Enter');
        await waitInPage(page, settled, 30, `the question after ${ANSWERS[0]}`);
        for (const answer of ANSWERS.slice(1)) {
            for (const key of answer) await tap(key);
            await tap('Enter');
            await waitInPage(page, settled, 30, `the question after ${answer}`);
        }
        await tap('1');
        await waitInPage(page, settled, 30, 'the first map');
        const times = [];
        const fromClick = [];
        for (let i = 0; i < tapCount; ++i) {
            const before = await page.evaluate(() => window.marrowdeep.transcript.length);
            await tap(CYCLE[i % CYCLE.length]);
            await answered(page, before, `the map after tap ${i + 1}`);
            const [redrawn, took, clicked] = await page.evaluate(
                (length) => [
                    window.marrowdeep.transcript.slice(length),
                    window.marrowdeep.lastWritten - window.tapEnds[window.tapEnds.length - 1],
                    window.marrowdeep.lastWritten - window.clicks[window.clicks.length - 1],
                ],
                before,
            );
            if (!redrawn.startsWith('<clear>') || !redrawn.includes(MAP_LEGEND)) {
                throw new Error(`tap ${i + 1} did not redraw the map: ${JSON.stringify(redrawn.slice(0, 200))}`);
            }
            times.push(took);
            fromClick.push(clicked);
        }
        if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
        return [times.sort((a, b) => a - b), fromClick.sort((a, b) => a - b)];
    } finally {
        await chromium.close();
    }
}

// The keys of a generated tour that a player can type.
function tourKeys(number) {
    const run = spawnSync(opt.fuzz, ['--first', String(number), '--streams', '1', '--print'], { maxBuffer: 1 << 26 });
    if (run.status !== 0) throw new Error(`the fuzz driver ${opt.fuzz} could not make tour ${number}`);
    return Array.from(run.stdout.toString('latin1'))
        .filter((c) => c === '\n' || (c >= ' ' && c <= '~'))
        .join('');
}

// The long game: generated tour 244's keys, its q (which quits) left out after the answers, over
// and over to 4,600 keys. The hero is VORTEX, whom no fight fells.
function longGame() {
    const tour = tourKeys(244);
    const answers = tour.slice(0, tour.indexOf('\n1\n') + 3);
    const walk = tour.slice(answers.length).replace(/q/g, '');
    let keys = answers;
    while (keys.length < 4600) keys += walk;
    return keys.slice(0, 4600);
}

// A game left unfinished: in a new context each round, a repeat visit with no game stored and
// one with the long game stored, in turn; then the long game's link, replayed at once.
async function storedGame() {
    const keys = longGame();
    const oneOff = { keys: tourKeys(17), link: null };
    const times = { plain: [], resumed: [], replayed: [] };
    let link = null;
    const resumed = {
        url: OURS.url,
        what: 'the screen left',
        ready: () => window.marrowdeep?.reading && window.marrowdeep.writing === 0 && !window.marrowdeep.replaying,
        shown: OURS.shown,
    };
    const chromium = await launch(opt.chromium);
    try {
        for (let round = 0; round < loads; ++round) {
            const context = await chromium.browser.createBrowserContext();
            try {
                // The first visit stays open to set the storage before each load: its game's
                // record, which has no keys yet, is the one stored with the long game's keys.
                const first = await visit(context, OURS, true);
                await waitInPage(first.page, () => navigator.serviceWorker?.controller?.state === 'activated', 30, 'a service worker');
                const record = await first.page.evaluate(() => localStorage.getItem('marrowdeep.game'));
                const order = round % 2 ? ['resumed', 'plain'] : ['plain', 'resumed'];
                for (const which of order) {
                    await first.page.evaluate(
                        (empty, stored) => {
                            localStorage.clear();
                            if (stored) localStorage.setItem('marrowdeep.game', JSON.stringify({ ...JSON.parse(empty), keys: stored }));
                        },
                        record,
                        which === 'resumed' ? keys : null,
                    );
                    const load = await visit(context, which === 'resumed' ? resumed : OURS, true);
                    if (which === 'resumed') {
                        const typed = await load.page.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.game')).keys.length);
                        if (typed !== keys.length || !(await load.page.evaluate(() => window.marrowdeep.reading))) {
                            throw new Error('the stored game did not come back whole');
                        }
                        await waitInPage(load.page, () => window.marrowdeep.link !== null, 30, 'the link');
                        link = await load.page.evaluate(() => window.marrowdeep.link);
                    }
                    times[which].push(load.shown);
                    await load.page.close();
                }
                const atOnce = { ...resumed, url: link.replace('/#', '/?pauses=0#'), what: 'the end of the replay' };
                const replayed = await visit(context, atOnce, true);
                times.replayed.push(replayed.shown);
                // The long game repeats itself, which its packing makes much of: a tour that
                // does not, for the length of a link.
                if (round === 0) {
                    oneOff.link = await replayed.page.evaluate(async (keys) => {
                        const { encodeRun } = await import('./run-link.js');
                        return encodeRun({ keys, clock: null, version: '2.3' });
                    }, oneOff.keys);
                }
                await replayed.page.close();
            } finally {
                await context.close();
            }
        }
    } finally {
        await chromium.close();
    }
    return { ...times, link, keys: keys.length, oneOff: { keys: oneOff.keys.length, run: oneOff.link.length + '#run='.length } };
}

try {
    const stored = await storedGame();
    const newBrowser = await newBrowserLoads();
    const tabs = await tabLoads();
    const spent = await whereTheTimeGoes(false);
    const spentAgain = await whereTheTimeGoes(true);
    const keys = await mapKeys();
    const taps = await panelTaps();

    const files = fs.readdirSync(pageDir).sort();
    let gzipped = 0;
    const sizes = files.map((name) => {
        const bytes = fs.readFileSync(path.join(pageDir, name));
        const packed = zlib.gzipSync(bytes, { level: 9 }).length;
        gzipped += packed;
        return `  ${name.padEnd(18)} ${String(bytes.length).padStart(7)} bytes, ${kb(packed)} gzipped`;
    });

    console.log(`Marrowdeep web page in ${opt.chromium}, served from 127.0.0.1`);
    // A load as a ratio to the blank page's, each the median of its loads.
    const against = (what, ours, blank, target) => {
        const [a, b] = [median(ours), median(blank)];
        const sorted = [...ours].sort((x, y) => x - y);
        console.log(
            `${what}: median ${ms(a)} = ${(a / b).toFixed(2)} x the blank page (${ms(b)}); ` +
                `ours fastest ${ms(sorted[0])}, slowest ${ms(sorted[sorted.length - 1])} of ${ours.length}${target}`,
        );
    };
    against('cold load to the first prompt, a new browser each time', newBrowser.ours, newBrowser.blank, '');
    against('first visit, a new tab (new context, cache off, no worker)', tabs.first, tabs.blankFirst, '   (target <= 2 x)');
    against("repeat visit, a new tab, from the service worker's cache", tabs.repeat, tabs.blankRepeat, '   (target <= 1.5 x)');
    for (const [kind, where] of [
        ['first', spent],
        ['repeat', spentAgain],
    ]) {
        console.log(`where a ${kind} visit spends its time (the median of 3 traced loads, the name question at ${ms(where.shown)}):`);
        for (const [what, start, end] of where.phases) {
            console.log(`  ${ms(start).padStart(9)} to ${ms(end).padStart(9)}  (${ms(end - start).padStart(8)})  ${what}`);
        }
        console.log(`  styles, layout and paint on the main thread before the name question: ${ms(where.drawing)}`);
    }
    console.log(
        `one map key: median ${ms(percentile(keys, 50))}, 95th percentile ${ms(percentile(keys, 95))} ` +
            `of ${keys.length} keys   (targets < 8 ms and < 16 ms)`,
    );
    if (taps) {
        const [fromEnd, fromClick] = taps;
        console.log(
            `one tap on a panel key, from the touch's end: median ${ms(percentile(fromEnd, 50))}, ` +
                `95th percentile ${ms(percentile(fromEnd, 95))} of ${fromEnd.length} taps   (targets < 8 ms and < 16 ms); ` +
                `from the page getting the click: median ${ms(percentile(fromClick, 50))}, ` +
                `95th percentile ${ms(percentile(fromClick, 95))}`,
        );
    } else {
        console.log('one tap on a panel key: the page has no touch panel');
    }
    const [plain, resumedAt, replayedAt] = [median(stored.plain), median(stored.resumed), median(stored.replayed)];
    console.log(
        `a stored game of ${stored.keys} keys resumed on a repeat visit: the screen left at ${ms(resumedAt)}, ` +
            `${ms(resumedAt - plain)} more than the same visit with no game stored (${ms(plain)}), ` +
            `${((resumedAt - plain) / plain).toFixed(2)} x that load, medians of ${loads}   (target <= 1 x)`,
    );
    console.log(
        `its link opened with pauses off, to the end of the replay at once: ${ms(replayedAt)}, ` +
            `${ms(replayedAt - plain)} more than the visit with no game stored`,
    );
    const run = stored.link.length - stored.link.indexOf('#');
    console.log(`its link: ${stored.link.length} characters, ${run} of them the run   (target < 4 KB)`);
    console.log(`the link of generated tour 17, ${stored.oneOff.keys} keys that do not repeat: the run ${stored.oneOff.run} characters   (target < 4 KB)`);
    console.log(`the zip: ${fs.statSync(opt.zip).size} bytes`);
    console.log(`the page's files gzipped: ${kb(gzipped)} in all   (target < 300 KB)`);
    console.log(sizes.join('\n'));
} finally {
    await server.close();
    fs.rmSync(site, { recursive: true, force: true });
}
