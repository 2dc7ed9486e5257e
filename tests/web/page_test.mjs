// Plays whole games on the web page in headless Chromium, typed key by key on the page's
// keyboard, and holds what the page's game wrote (its transcript, clears and pauses marked)
// against what the Linux program writes for the same keys with the marks library loaded.
//
//   node page_test.mjs --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY --fuzz FUZZ_DRIVER
//                      --regressions DIR [--chromium PATH]
//
// The games: a saved one that goes into the tier, reads every scroll and quits, its name typed
// with a slip mended by Backspace; a generated tour with fights, level-ups, the status screen, a refresh
// and tier rooms; and one lost in a fight, after which Enter starts a new game. Only keys a
// player types on the page's keyboard are used: printable characters and Enter. Then the page on
// phones and in windows of every size (phone.mjs): a game by taps alone, the screens whole at
// each size, and the screen reader switch. And the page's runs (runs.mjs): games resumed after a
// reload, replays from a link and a saved file, bad links, two tabs and storage refused. And the
// screen fed random bytes (screen.mjs).
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { launch, serve, waitInPage, watch } from './browser.mjs';
import { installable, newBuild, offlinePlay } from './install.mjs';
import { cutAt, onPhones } from './phone.mjs';
import { runScenarios } from './runs.mjs';
import { screenTakesAnyBytes } from './screen.mjs';
import { staticHost } from './static-host.mjs';

const { values: opt } = parseArgs({
    options: {
        page: { type: 'string' },
        program: { type: 'string' },
        marks: { type: 'string' },
        fuzz: { type: 'string' },
        regressions: { type: 'string' },
        chromium: { type: 'string', default: '/usr/bin/chromium' },
    },
});
for (const name of ['page', 'program', 'marks', 'fuzz', 'regressions']) {
    if (!opt[name]) throw new Error(`--${name} is missing`);
}

// Places a game reached, told by the text the Linux program wrote there.
const PLACES = {
    'a won fight': 'YOU WIN!',
    'a lost fight': 'YOU LOSE!',
    'a level-up': 'Level UP to',
    'the status screen': 'YOUR WEAPON:',
    'a refresh': 'refresh the map at the cost',
    'a tier room': 'TIER LAYER:',
};

// What the Linux program writes for `keys`, one character per byte; with `second`, its clock
// stands at that second.
function linuxBytes(keys, second) {
    const clock = second === undefined ? {} : { FAST_CONSOLE_TIME: String(second) };
    const run = spawnSync(opt.program, [], {
        input: Buffer.from(keys, 'latin1'),
        env: { ...process.env, LD_PRELOAD: path.resolve(opt.marks), ...clock },
        maxBuffer: 1 << 28,
        timeout: 120000,
    });
    if (run.error) throw run.error;
    if (run.status !== 0) throw new Error(`the Linux program ended with ${run.status ?? run.signal}`);
    return run.stdout.toString('latin1');
}

// A generated input stream with only the keys a player types: printable characters and Enter.
function typeableStream(number) {
    const run = spawnSync(opt.fuzz, ['--first', String(number), '--streams', '1', '--print'], { maxBuffer: 1 << 26 });
    if (run.status !== 0) throw new Error(`the fuzz driver could not make stream ${number}`);
    return Array.from(run.stdout.toString('latin1'))
        .filter((c) => c === '\n' || (c >= ' ' && c <= '~'))
        .join('');
}

function printable(s) {
    return JSON.stringify(s).slice(1, -1);
}

// Waits until a row the terminal shows ends with `ending` (trailing blanks cut), for at most
// 10 s; answers whether one did.
async function screenShows(page, ending) {
    try {
        await page.waitForFunction(
            (end) =>
                window.marrowdeep.rows().some((row) => row.trimEnd().endsWith(end)),
            { timeout: 10000, polling: 20 },
            ending,
        );
        return true;
    } catch {
        return false;
    }
}

// Where two transcripts part, with some of each around it.
function difference(got, want) {
    let at = 0;
    while (at < got.length && at < want.length && got[at] === want[at]) ++at;
    return (
        `the page wrote ${got.length} bytes, the Linux program ${want.length}; they part at byte ${at}\n` +
        `  page:  ...${printable(got.slice(Math.max(0, at - 120), at + 120))}\n` +
        `  Linux: ...${printable(want.slice(Math.max(0, at - 120), at + 120))}`
    );
}

const games = [
    {
        what: 'the saved tier game with every scroll, its name typed with a slip',
        keys: fs.readFileSync(path.join(opt.regressions, 'tier-then-every-scroll.bin'), 'latin1'),
        slip: true,
        ends: 'q',
    },
    { what: 'generated tour 244', keys: typeableStream(244) },
    { what: 'generated tour 10, up to its lost fight', keys: cutAt(linuxBytes, typeableStream(10), PLACES['a lost fight']), ends: 'lost' },
];

// The server the games are played from, as a usual static host.
const failures = await staticHost();
const reached = new Set();
const server = await serve(path.resolve(opt.page));
const chromium = await launch(opt.chromium);
try {
    for (const game of games) {
        const want = linuxBytes(game.keys);
        if (!want.includes('Input Seed:')) throw new Error(`${game.what} takes its seed from the clock`);
        for (const [place, text] of Object.entries(PLACES)) if (want.includes(text)) reached.add(place);

        // Each game in a browser context of its own, whose storage holds no game left unfinished.
        const context = await chromium.browser.createBrowserContext();
        const page = await context.newPage();
        const problems = await watch(page, server.origin);
        await page.goto(`${server.origin}/?pauses=0`);
        await waitInPage(page, () => window.marrowdeep?.reading, 30, 'the name question');

        let keys = game.keys;
        if (game.slip) {
            // The name's last letter is typed twice and the second erased.
            const end = keys.indexOf('\n');
            await page.keyboard.type(keys.slice(0, end) + 'x');
            await page.keyboard.press('Backspace');
            // The terminal shows the name as mended, right after the question.
            const shows = `Please insert your name:${keys.slice(0, end)}`;
            if (!(await screenShows(page, shows))) failures.push(`${game.what}: the screen does not show "${shows}"`);
            keys = keys.slice(end);
        }
        await page.keyboard.type(keys);
        await waitInPage(page, () => window.marrowdeep.reading || window.marrowdeep.ended, 120, 'the end of the keys');

        const got = await page.evaluate(() => window.marrowdeep.transcript);
        const ended = await page.evaluate(() => window.marrowdeep.ended);
        if (got !== want) failures.push(`${game.what}: ${difference(got, want)}`);
        if (ended !== Boolean(game.ends)) failures.push(`${game.what}: the page says the game ${ended ? 'is' : 'is not'} over`);
        if (ended && !(await screenShows(page, 'The game is over. Press Enter for a new game.'))) {
            failures.push(`${game.what}: the screen does not say the game is over`);
        }

        if (game.ends === 'lost' && ended) {
            // The run is in the page's list, told as a hero fallen.
            const told = await page.evaluate(() => document.querySelector('.run-list .about')?.textContent ?? '');
            if (!told.includes(' fell in a fight ')) failures.push(`${game.what}: the list of runs tells it as "${told}"`);
            // Enter after the end starts a new game, which asks for a name again.
            await page.keyboard.press('Enter');
            await waitInPage(page, () => window.marrowdeep.games === 2 && window.marrowdeep.reading, 30, 'a new game');
            const again = await page.evaluate(() => window.marrowdeep.transcript);
            const fresh = linuxBytes('');
            if (again !== fresh) failures.push(`the new game after the end: ${difference(again, fresh)}`);
        }
        if (problems.length) failures.push(`${game.what}: the browser reported\n  ${problems.join('\n  ')}`);
        await context.close();
        console.log(`${game.what}: ${game.keys.length} keys, ${want.length} bytes`);
    }
    // The page's runs (runs.mjs): a game resumed after a reload, with a typed seed and with one
    // from the clock; the saved game's link and file; bad links; two tabs; storage refused.
    const runs = { browser: chromium.browser, origin: server.origin, linuxBytes, tour: games[1].keys, clockTour: typeableStream(53) };
    failures.push(...(await runScenarios({ ...runs, finished: games[0].keys })));
    // The page as an installed app: offline play, Chromium's install check and a new build.
    for (const scenario of [offlinePlay, installable, newBuild]) {
        failures.push(...(await scenario({ browser: chromium.browser, folder: path.resolve(opt.page), linuxBytes })));
    }
    const phones = { browser: chromium.browser, origin: server.origin, linuxBytes, typeableStream, savedGame: games[0].keys };
    failures.push(...(await onPhones(phones)));
    // The screen fed random bytes the way the game writes (screen.mjs).
    failures.push(...(await screenTakesAnyBytes({ browser: chromium.browser, origin: server.origin })));
} finally {
    await chromium.close();
    await server.close();
}

const missed = Object.keys(PLACES).filter((place) => !reached.has(place));
if (missed.length) failures.push(`no game reached ${missed.join(', ')}`);
if (failures.length) {
    console.log(`FAIL:\n${failures.join('\n')}`);
    process.exit(1);
}
console.log(`PASS: ${games.length} games played on the page as the Linux program plays them`);
