// Web page benchmark: not a test, run by hand on the web page, from the zip the package workflow
// makes or from a built page's folder.
//
//   node bench/web.mjs (--zip out/package/marrowdeep-2.3-web.zip | --page out/build/web/page)
//                      [--chromium PATH] [--loads N] [--keys N] [--taps N] [--screenshot FILE]
//                      [--fuzz FUZZ_DRIVER]
//
// It puts the page in a scratch folder beside a blank page (one script that writes one line),
// serves both on 127.0.0.1 as a usual static host does (text and the game's code gzipped,
// connections kept open) and measures in headless Chromium. Each load is taken in two
// conditions (conditions.mjs): as the machine is, and as a phone on a mobile network (150 ms
// round trip, 1.6 Mbit/s down, 750 kbit/s up, the CPU slowed 4 times); and each is also given
// as a ratio to the blank page loaded the same way in the same run:
//   - a first visit: from the navigation to the name question shown, --loads times in a new tab
//     of a browser already running (a fresh browser context, so no service worker, the cache
//     off); and the same for the game's code alone, its first question shown with no page
//     around it, which tells how near the page can come to the blank page. The question is shown
//     at the first frame in which the terminal's first row holds it in the page's own font, its
//     font loaded, and the page's script runs, so that a key typed then is taken; beside it, the
//     game ready: the game's own first read, when it has written the question itself. The files
//     that came before the question are counted;
//   - a repeat visit: a new tab in the same context, the cache still off, the page's files all
//     from its service worker's cache; and the same for the game's code alone, kept by a service
//     worker of its own;
//   - a cold load, as the machine is only: --loads times in a new browser with an empty profile;
//   - where first and repeat visits spend their time in each condition, from performance traces
//     of three more of each (first-visit.mjs; a trace slows a load down, so these are not counted
//     above);
//   - a game left unfinished, of 4,600 keys (generated tour 244 of the fuzz driver, its q left
//     out, over and over; --fuzz, by default the one in out/build/default): what it adds to a
//     repeat visit until the player's screen shows again, as a ratio to the same visit with no
//     game stored, --loads times each in turn in each condition; the same game's link opened
//     with pauses off, to the end of its replay at once; and the length of its link, and of the
//     link of generated tour 17, whose 4,686 keys do not repeat;
//   - a map key: from its key event to the page having shown the redrawn map, with pauses off,
//     for --keys keys after the first map (steps there and back, a walk into a wall and a key
//     the map does not know, over and over, as the Linux benchmark plays them), with the CPU as
//     it is and slowed 4 times;
//   - a tap on a panel key: from the tap's touch end to the redrawn map shown, --taps taps on a
//     390 x 844 touch screen, the same walk, with the CPU as it is and slowed 4 times;
//   - each of the page's files gzipped as the server sends them, and their total but for the
//     icons and the licences, which a player's browser does not need to play.
// With --screenshot it saves a picture of the page showing the map.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { serve, waitInPage, watch } from '../tests/web/browser.mjs';
import { launchChromium } from '../tests/web/harness.mjs';
import { AS_IS, CONDITIONS, PHONE, emulate } from './conditions.mjs';
import { CATEGORIES, phases } from './first-visit.mjs';
import { report } from './report.mjs';
import { makeSite, sizes, watchTheQuestion } from './site.mjs';

const { values: opt } = parseArgs({
    options: {
        zip: { type: 'string' },
        page: { type: 'string' },
        chromium: { type: 'string', default: '/usr/bin/chromium' },
        loads: { type: 'string', default: '7' },
        keys: { type: 'string', default: '400' },
        taps: { type: 'string', default: '200' },
        screenshot: { type: 'string' },
        fuzz: { type: 'string', default: path.join(import.meta.dirname, '../out/build/default/tests/fuzz/marrowdeep_fuzz') },
    },
});
const loads = Math.max(1, Number(opt.loads));
const keyCount = Math.max(200, Number(opt.keys));
const tapCount = Math.max(100, Number(opt.taps));

// Seed 1 starts on bare floor with bare floor to the right and a wall above: walking right and
// back never meets a tile or a fight.
const ANSWERS = ['bench', 'n', '1'];
const CYCLE = ['d', 'a', 'w', 'x'];
const MAP_LEGEND = 'wasd and q to exit';

const { site, pageDir } = makeSite(opt);
const indexHtml = fs.readFileSync(path.join(pageDir, 'index.html'), 'utf8');
const server = await serve(site);

// Waits until the game waits for a key and the page has shown all it wrote.
const settled = () => window.marrowdeep?.reading && window.marrowdeep.writing === 0;

// Waits until the game has written more than `length` bytes and waits again, with all it wrote
// shown: the answer to one key or tap.
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
// navigation; for ours, also when the game was ready (its first read; a page that draws the
// question only from the game's output drew it then), and the files that came before the question.
// Visits open the page's folder as a player does; keys and taps are timed with pauses off.
const OURS = {
    url: `${server.origin}/page/`,
    what: 'the name question',
    prepare: watchTheQuestion,
    ready: () => window.questionAt !== undefined && window.marrowdeep.reading && window.marrowdeep.writing === 0,
    shown: () => window.questionAt - performance.getEntriesByType('navigation')[0].startTime,
    gameShown: () =>
        (window.marrowdeep.readySince ?? window.marrowdeep.lastWritten) - performance.getEntriesByType('navigation')[0].startTime,
    filesBefore: () => 1 + performance.getEntriesByType('resource').filter((r) => r.responseEnd <= window.questionAt).length,
};
const BLANK = {
    url: `${server.origin}/blank/`,
    what: "the blank page's line",
    ready: () => window.shown !== undefined,
    shown: () => window.shown - performance.getEntriesByType('navigation')[0].startTime,
};
const FLOOR = { ...BLANK, url: `${server.origin}/floor/`, what: "the game's first question, with no page around it" };

// A new tab of `context` (a browser or a browser context) under `condition`, the cache off.
async function newTab(context, condition) {
    const page = await context.newPage();
    await page.setCacheEnabled(false);
    await emulate(page, condition);
    return page;
}

// One load of `which` in a new tab of `context` under `condition`: the time to its text, and
// how many of the page's files came from the service worker and how many from the network.
// With `keep`, the tab stays open for the caller.
async function visit(context, which, condition, keep = false) {
    const page = await newTab(context, condition);
    const problems = await watch(page, server.origin);
    if (which.prepare) await page.evaluateOnNewDocument(which.prepare);
    const served = { worker: 0, network: 0 };
    // The page's files: a question the page asks its server that finds nothing is none.
    page.on('response', (response) => {
        if (response.ok()) served[response.fromServiceWorker() ? 'worker' : 'network'] += 1;
    });
    await page.goto(which.url, { timeout: 60000 });
    await waitInPage(page, which.ready, 60, which.what);
    const shown = await page.evaluate(which.shown);
    const game = which.gameShown ? await page.evaluate(which.gameShown) : null;
    const filesBefore = which.filesBefore ? await page.evaluate(which.filesBefore) : null;
    if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
    if (!keep) await page.close();
    return { shown, game, filesBefore, served, page };
}

// A first visit of our page in `context`, left until its service worker is in charge.
async function firstVisit(context) {
    const first = await visit(context, OURS, AS_IS, true);
    await waitInPage(first.page, () => navigator.serviceWorker?.controller?.state === 'activated', 30, 'a service worker');
    return first.page;
}

// Rounds taken again because a load did not finish in time, which a busy machine can make
// happen: each is taken again, at most twice, and told in the figures.
const retaken = [];

// `body` run with a fresh browser context of `chromium`, closed after it; a round that runs out
// of time is taken again in a new context.
async function inContext(chromium, what, body) {
    for (let attempt = 1; ; ++attempt) {
        const context = await chromium.browser.createBrowserContext();
        try {
            return await body(context);
        } catch (error) {
            if (attempt === 3 || !/timeout|did not get to/i.test(error.message)) throw error;
            retaken.push(`${what}: ${error.message.split('\n')[0]}`);
            console.error(`taken again: ${retaken.at(-1)}`);
        } finally {
            await context.close();
        }
    }
}

// Loads in a new browser each time, the blank page's and ours in turn.
async function newBrowserLoads() {
    const times = { ours: [], blank: [] };
    for (let i = 0; i < 2 * loads; ++i) {
        const which = i % 2 ? 'blank' : 'ours';
        const chromium = await launchChromium(opt.chromium);
        try {
            times[which].push((await visit(chromium.browser, which === 'ours' ? OURS : BLANK, AS_IS)).shown);
        } finally {
            await chromium.close();
        }
    }
    return times;
}

// First and repeat visits in new tabs of one browser, each round and condition in a fresh
// browser context: the blank page, ours and the game's code alone as first visits (in turn, each
// round another first), then, once a service worker keeps ours and the game's code alone, those
// two again (in turn, each round another first) and the blank page. The conditions take turns to
// go first too.
async function tabLoads() {
    const times = Object.fromEntries(
        CONDITIONS.map((c) => [
            c.name,
            { first: [], firstGame: [], filesBefore: [], blankFirst: [], floorFirst: [], repeat: [], repeatGame: [], floorRepeat: [], blankRepeat: [] },
        ]),
    );
    const firsts = [OURS, BLANK, FLOOR];
    const chromium = await launchChromium(opt.chromium);
    try {
        for (let round = -1; round < loads; ++round) {
            for (const condition of round % 2 ? CONDITIONS : [...CONDITIONS].reverse()) {
                const got = await inContext(chromium, `[${condition.name}] visits, round ${round + 1}`, async (context) => {
                    const firstVisits = [];
                    const turn = (round + 1) % firsts.length;
                    for (const which of [...firsts.slice(turn), ...firsts.slice(0, turn)]) {
                        const load = await visit(context, which, condition, which !== BLANK);
                        if (which !== BLANK) {
                            if (load.served.worker) throw new Error('a first visit had files from a service worker');
                            await waitInPage(load.page, () => navigator.serviceWorker.controller !== null, 60, 'the service worker');
                            await load.page.close();
                        }
                        firstVisits.push([which, load]);
                    }
                    const repeats = {};
                    for (const which of round % 2 ? [OURS, FLOOR] : [FLOOR, OURS]) {
                        const repeat = await visit(context, which, condition);
                        if (repeat.served.network) throw new Error(`a repeat visit had ${repeat.served.network} files from the network`);
                        repeats[which === OURS ? 'ours' : 'floor'] = repeat;
                    }
                    const blankRepeat = await visit(context, BLANK, condition);
                    return { firstVisits, repeat: repeats.ours, floorRepeat: repeats.floor.shown, blankRepeat: blankRepeat.shown };
                });
                if (round < 0) continue; // the browser's own first pages, not counted
                const into = times[condition.name];
                for (const [which, load] of got.firstVisits) {
                    into[which === OURS ? 'first' : which === BLANK ? 'blankFirst' : 'floorFirst'].push(load.shown);
                    if (which === OURS) {
                        into.firstGame.push(load.game);
                        into.filesBefore.push(load.filesBefore);
                    }
                }
                into.repeat.push(got.repeat.shown);
                into.repeatGame.push(got.repeat.game);
                into.floorRepeat.push(got.floorRepeat);
                into.blankRepeat.push(got.blankRepeat);
            }
        }
    } finally {
        await chromium.close();
    }
    return times;
}

// Three traced first visits under `condition`, or with `repeat` three traced repeat visits (each
// after a first visit left the service worker in charge): the phases of the one with the median
// time to the name question.
async function whereTheTimeGoes(repeat, condition) {
    const runs = [];
    const chromium = await launchChromium(opt.chromium);
    try {
        for (let i = 0; i < 3; ++i) {
            const context = await chromium.browser.createBrowserContext();
            if (repeat) await (await firstVisit(context)).close();
            const page = await newTab(context, condition);
            await page.evaluateOnNewDocument(OURS.prepare);
            await page.tracing.start({ categories: CATEGORIES });
            await page.goto(OURS.url, { timeout: 60000 });
            await waitInPage(page, OURS.ready, 60, OURS.what);
            const [resources, shown] = await page.evaluate(() => [
                [
                    { name: 'document', responseEnd: performance.getEntriesByType('navigation')[0].responseEnd },
                    ...performance.getEntriesByType('resource').map((r) => ({ name: r.name, responseEnd: r.responseEnd })),
                ],
                window.marrowdeep.readySince ?? window.marrowdeep.lastWritten,
            ]);
            runs.push({ ...phases(Buffer.from(await page.tracing.stop()).toString(), resources, shown, indexHtml), shown });
            await context.close();
        }
    } finally {
        await chromium.close();
    }
    return runs.sort((a, b) => a.shown - b.shown)[1];
}

// The time from each key's event to the redrawn map shown, sorted: --keys keys of the walk,
// with the page's CPU slowed `rate` times once the first map shows.
async function mapKeys(rate) {
    const chromium = await launchChromium(opt.chromium);
    try {
        const page = await chromium.browser.newPage();
        await page.setViewport({ width: 1040, height: 840 });
        const problems = await watch(page, server.origin);
        await page.evaluateOnNewDocument(() => {
            window.keyEvents = [];
            document.addEventListener('keydown', (e) => window.keyEvents.push(e.timeStamp), true);
        });
        await page.goto(`${OURS.url}?pauses=0`);
        await waitInPage(page, settled, 30, 'the name question');
        for (const answer of ANSWERS) {
            await page.keyboard.type(answer);
            await page.keyboard.press('Enter');
            await waitInPage(page, settled, 30, `the question after ${answer}`);
        }
        // The build: 1 for Strength, then the first map.
        await page.keyboard.type('1');
        await waitInPage(page, settled, 30, 'the first map');
        if (rate > 1) await page.emulateCPUThrottling(rate);
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
        if (opt.screenshot && rate === 1) await page.screenshot({ path: opt.screenshot });
        if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
        return times.sort((a, b) => a - b);
    } finally {
        await chromium.close();
    }
}

// The same walk tapped on the touch panel of a phone-sized page, the CPU slowed `rate` times
// once the first map shows: the name typed into the line field, every other key a tap. The
// times from each tap's touch end and from the page hearing it, sorted; null when the page
// has no panel.
async function panelTaps(rate) {
    const chromium = await launchChromium(opt.chromium);
    try {
        const page = await chromium.browser.newPage();
        await page.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 3 });
        const problems = await watch(page, server.origin);
        await page.evaluateOnNewDocument(() => {
            window.tapEnds = [];
            window.heard = [];
            // When the page itself hears the tap: its touch's end, or the click the browser makes
            // of it, if one follows.
            document.addEventListener(
                'touchend',
                (e) => {
                    window.tapEnds.push(e.timeStamp);
                    window.heard.push(performance.now());
                },
                true,
            );
            document.addEventListener('click', () => window.heard.push(performance.now()), true);
        });
        await page.goto(`${OURS.url}?pauses=0`);
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
        if (rate > 1) await page.emulateCPUThrottling(rate);
        const times = [];
        const fromHeard = [];
        for (let i = 0; i < tapCount; ++i) {
            const before = await page.evaluate(() => window.marrowdeep.transcript.length);
            await tap(CYCLE[i % CYCLE.length]);
            await answered(page, before, `the map after tap ${i + 1}`);
            const [redrawn, took, clicked] = await page.evaluate(
                (length) => [
                    window.marrowdeep.transcript.slice(length),
                    window.marrowdeep.lastWritten - window.tapEnds[window.tapEnds.length - 1],
                    window.marrowdeep.lastWritten - window.heard[window.heard.length - 1],
                ],
                before,
            );
            if (!redrawn.startsWith('<clear>') || !redrawn.includes(MAP_LEGEND)) {
                throw new Error(`tap ${i + 1} did not redraw the map: ${JSON.stringify(redrawn.slice(0, 200))}`);
            }
            times.push(took);
            fromHeard.push(clicked);
        }
        if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
        return [times.sort((a, b) => a - b), fromHeard.sort((a, b) => a - b)];
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

// A game left unfinished: in a new context each round and condition, a repeat visit with no
// game stored and one with the long game stored, in turn; then, as the machine is, the long
// game's link replayed at once.
async function storedGame() {
    const keys = longGame();
    const oneOff = { keys: tourKeys(17), link: null };
    const times = Object.fromEntries(CONDITIONS.map((c) => [c.name, { plain: [], resumed: [] }]));
    const replayed = [];
    let link = null;
    const resumed = {
        url: OURS.url,
        what: 'the screen left',
        ready: () => window.marrowdeep?.reading && window.marrowdeep.writing === 0 && !window.marrowdeep.replaying,
        shown: () => window.marrowdeep.lastWritten - performance.getEntriesByType('navigation')[0].startTime,
    };
    // The same visit with no game stored, until its game is ready, as the resumed one is.
    const plain = { ...OURS, shown: OURS.gameShown };
    const chromium = await launchChromium(opt.chromium);
    try {
        for (let round = 0; round < loads; ++round) {
            for (const condition of round % 2 ? CONDITIONS : [...CONDITIONS].reverse()) {
                const got = await inContext(chromium, `[${condition.name}] stored game, round ${round + 1}`, async (context) => {
                    const shown = {};
                    // The first visit stays open to set the storage before each load: its game's
                    // record, which has no keys yet, is the one stored with the long game's keys.
                    const first = await firstVisit(context);
                    const record = await first.evaluate(() => localStorage.getItem('marrowdeep.game'));
                    for (const which of round % 2 ? ['resumed', 'plain'] : ['plain', 'resumed']) {
                        await first.evaluate(
                            (empty, stored) => {
                                localStorage.clear();
                                if (stored) localStorage.setItem('marrowdeep.game', JSON.stringify({ ...JSON.parse(empty), keys: stored }));
                            },
                            record,
                            which === 'resumed' ? keys : null,
                        );
                        const load = await visit(context, which === 'resumed' ? resumed : plain, condition, true);
                        if (which === 'resumed') {
                            const typed = await load.page.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.game')).keys.length);
                            if (typed !== keys.length || !(await load.page.evaluate(() => window.marrowdeep.reading))) {
                                throw new Error('the stored game did not come back whole');
                            }
                            await waitInPage(load.page, () => window.marrowdeep.link !== null, 30, 'the link');
                            link = await load.page.evaluate(() => window.marrowdeep.link);
                        }
                        shown[which] = load.shown;
                        await load.page.close();
                    }
                    if (condition !== AS_IS) return shown;
                    const atOnce = { ...resumed, url: link.replace('/#', '/?pauses=0#'), what: 'the end of the replay' };
                    const replay = await visit(context, atOnce, AS_IS, true);
                    shown.replayed = replay.shown;
                    // The long game repeats itself, which its packing makes much of: a tour that
                    // does not, for the length of a link.
                    if (oneOff.link === null) {
                        oneOff.link = await replay.page.evaluate(async (keys) => {
                            try {
                                const { encodeRun } = await import('./runs/run-link.js');
                                return encodeRun({ keys, clock: null, version: '2.3' });
                            } catch {
                                return ''; // a page whose modules are bundled into one
                            }
                        }, oneOff.keys);
                    }
                    await replay.page.close();
                    return shown;
                });
                for (const which of ['plain', 'resumed']) times[condition.name][which].push(got[which]);
                if (got.replayed !== undefined) replayed.push(got.replayed);
            }
        }
    } finally {
        await chromium.close();
    }
    const run = oneOff.link ? oneOff.link.length + '#run='.length : null;
    return { times, replayed, link, keys: keys.length, oneOff: { keys: oneOff.keys.length, run } };
}

try {
    const stored = await storedGame();
    const newBrowser = await newBrowserLoads();
    const tabs = await tabLoads();
    const spent = [];
    for (const condition of CONDITIONS) {
        for (const repeat of [false, true]) spent.push({ condition, repeat, where: await whereTheTimeGoes(repeat, condition) });
    }
    const keys = [await mapKeys(1), await mapKeys(PHONE.cpu)];
    const taps = [await panelTaps(1), await panelTaps(PHONE.cpu)];
    report({ opt, loads, newBrowser, tabs, spent, keys, taps, stored, files: sizes(pageDir), retaken });
} finally {
    await server.close();
    fs.rmSync(site, { recursive: true, force: true });
}
