// The keyboard games the page's tests play in every browser, held against the Linux program's
// bytes. A game is played through a driver, whatever drives the browser:
//
//   goto(url)                          opens an address and waits for its load
//   reload()                           loads the page again
//   evaluate(fn, ...args)              runs `fn` in the page (it may be async); answers its value
//   type(keys)                         types printable characters, '\n' as Enter
//   press(key)                         presses 'Enter' or 'Backspace'
//   waitFor(fn, seconds, what, ...args) waits until `fn` in the page answers true, or fails
//
// Each function answers a list of failures; a driver's page starts with empty storage.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { cutAt } from './phone.mjs';

// Places a game reached, told by the text the Linux program wrote there.
export const PLACES = {
    'a won fight': 'YOU WIN!',
    'a lost fight': 'YOU LOSE!',
    'a level-up': 'Level UP to',
    'the status screen': 'YOUR WEAPON:',
    'a refresh': 'refresh the map at the cost',
    'a tier room': 'TIER LAYER:',
};

export const GAME_OVER = 'The game is over. Press Enter for a new game.';
const MAP_LEGEND = 'wasd and q to exit';

// What the Linux program writes (`linuxBytes(keys, second)`: for `keys`, one character per byte,
// its clock at `second` if given, with the marks library loaded) and the generated games
// (`typeableStream(number)`: only the keys a player types, printable characters and Enter).
export function linuxTools({ program, marks, fuzz }) {
    function linuxBytes(keys, second) {
        const clock = second === undefined ? {} : { FAST_CONSOLE_TIME: String(second) };
        const run = spawnSync(program, [], {
            input: Buffer.from(keys, 'latin1'),
            env: { ...process.env, LD_PRELOAD: path.resolve(marks), ...clock },
            maxBuffer: 1 << 28,
            timeout: 120000,
        });
        if (run.error) throw run.error;
        if (run.status !== 0) throw new Error(`the Linux program ended with ${run.status ?? run.signal}`);
        return run.stdout.toString('latin1');
    }
    function typeableStream(number) {
        const run = spawnSync(fuzz, ['--first', String(number), '--streams', '1', '--print'], { maxBuffer: 1 << 26 });
        if (run.status !== 0) throw new Error(`the fuzz driver could not make stream ${number}`);
        return Array.from(run.stdout.toString('latin1'))
            .filter((c) => c === '\n' || (c >= ' ' && c <= '~'))
            .join('');
    }
    return { linuxBytes, typeableStream };
}

// The three keyboard games: a saved one that goes into the tier, reads every scroll and quits,
// its name typed with a slip mended by Backspace; a generated tour with fights, level-ups, the
// status screen, a refresh and tier rooms; and one lost in a fight, after which Enter starts a
// new game.
export function keyboardGames({ regressions, linuxBytes, typeableStream }) {
    return [
        {
            what: 'the saved tier game with every scroll, its name typed with a slip',
            keys: fs.readFileSync(path.join(regressions, 'tier-then-every-scroll.bin'), 'latin1'),
            slip: true,
            ends: 'q',
        },
        { what: 'generated tour 244', keys: typeableStream(244) },
        { what: 'generated tour 10, up to its lost fight', keys: cutAt(linuxBytes, typeableStream(10), PLACES['a lost fight']), ends: 'lost' },
    ];
}

function printable(s) {
    return JSON.stringify(s).slice(1, -1);
}

// Where two transcripts part, with some of each around it.
export function difference(got, want) {
    let at = 0;
    while (at < got.length && at < want.length && got[at] === want[at]) ++at;
    return (
        `the page wrote ${got.length} bytes, the Linux program ${want.length}; they part at byte ${at}\n` +
        `  page:  ...${printable(got.slice(Math.max(0, at - 120), at + 120))}\n` +
        `  Linux: ...${printable(want.slice(Math.max(0, at - 120), at + 120))}`
    );
}

// Waits until a row of the screen ends with `ending` (trailing blanks cut), for at most 10 s;
// answers whether one did.
async function screenShows(driver, ending) {
    try {
        const shows = (end) => window.marrowdeep.rows().some((row) => row.trimEnd().endsWith(end));
        await driver.waitFor(shows, 10, `a row ending "${ending}"`, ending);
        return true;
    } catch {
        return false;
    }
}

const settled = () =>
    (window.marrowdeep.reading || window.marrowdeep.ended) && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;

// Opens the page, without pauses, and waits for the name question.
async function openGame(driver, origin) {
    await driver.goto(`${origin}/?pauses=0`);
    await driver.waitFor(() => window.marrowdeep?.reading, 30, 'the name question');
}

// Plays `game` ({what, keys, slip, ends}) on a fresh page of `origin` and holds its transcript
// and its screen against the Linux program.
export async function playGame(driver, { origin, linuxBytes }, game) {
    const failures = [];
    const want = linuxBytes(game.keys);
    if (!want.includes('Input Seed:')) throw new Error(`${game.what} takes its seed from the clock`);
    await openGame(driver, origin);

    let keys = game.keys;
    if (game.slip) {
        // The name's last letter is typed twice and the second erased.
        const end = keys.indexOf('\n');
        await driver.type(keys.slice(0, end) + 'x');
        await driver.press('Backspace');
        // The screen shows the name as mended, right after the question.
        const shows = `Please insert your name:${keys.slice(0, end)}`;
        if (!(await screenShows(driver, shows))) failures.push(`${game.what}: the screen does not show "${shows}"`);
        keys = keys.slice(end);
    }
    await driver.type(keys);
    await driver.waitFor(() => window.marrowdeep.reading || window.marrowdeep.ended, 120, 'the end of the keys');

    const got = await driver.evaluate(() => window.marrowdeep.transcript);
    const ended = await driver.evaluate(() => window.marrowdeep.ended);
    if (got !== want) failures.push(`${game.what}: ${difference(got, want)}`);
    if (ended !== Boolean(game.ends)) failures.push(`${game.what}: the page says the game ${ended ? 'is' : 'is not'} over`);
    if (ended && !(await screenShows(driver, GAME_OVER))) failures.push(`${game.what}: the screen does not say the game is over`);

    if (game.ends === 'lost' && ended) {
        // The run is in the page's list, told as a hero fallen.
        const told = await driver.evaluate(() => document.querySelector('.run-list .about')?.textContent ?? '');
        if (!told.includes(' fell in a fight ')) failures.push(`${game.what}: the list of runs tells it as "${told}"`);
        // Enter after the end starts a new game, which asks for a name again.
        await driver.press('Enter');
        await driver.waitFor(() => window.marrowdeep.games === 2 && window.marrowdeep.reading, 30, 'a new game');
        const again = await driver.evaluate(() => window.marrowdeep.transcript);
        const fresh = linuxBytes('');
        if (again !== fresh) failures.push(`the new game after the end: ${difference(again, fresh)}`);
    }
    return failures;
}

// The rows of the screen, trailing blanks cut, once the page has drawn what it was given.
export const screenRows = (driver) =>
    driver.evaluate(async () => {
        await new Promise((drawn) => requestAnimationFrame(() => requestAnimationFrame(drawn)));
        return window.marrowdeep.rows().map((row) => row.trimEnd());
    });

// A cut of `keys` past their middle where the game shows the map it drew after a clear, waiting
// for a key: what a terminal shows there does not hang on when the echo of a key came.
function cutAtMap(keys, linuxBytes) {
    for (let k = keys.length >> 1; k < keys.length; ++k) {
        const out = linuxBytes(keys.slice(0, k));
        const screen = out.slice(out.lastIndexOf('<clear>'));
        if (screen.includes(MAP_LEGEND) && !screen.includes('<sleep')) return k;
    }
    throw new Error('these keys never stop on the map past their middle');
}

// Half a game typed, the page reloaded: the screen left and the transcript so far come back, and
// the rest of the keys give the Linux program's bytes.
export async function resumeHalfway(driver, { origin, linuxBytes }, keys) {
    const failures = [];
    await openGame(driver, origin);
    const cut = cutAtMap(keys, linuxBytes);
    await driver.type(keys.slice(0, cut));
    await driver.waitFor(settled, 120, 'the end of the first half');
    const stored = (n) => JSON.parse(localStorage.getItem('marrowdeep.game'))?.keys.length === n;
    await driver.waitFor(stored, 30, 'the record of the first half', cut);
    const before = { rows: await screenRows(driver), transcript: await driver.evaluate(() => window.marrowdeep.transcript) };
    const half = linuxBytes(keys.slice(0, cut));
    if (before.transcript !== half) failures.push(`resume: before the reload: ${difference(before.transcript, half)}`);

    await driver.reload();
    const resumed = () => window.marrowdeep?.reading && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;
    await driver.waitFor(resumed, 60, 'the resumed game');
    const after = { rows: await screenRows(driver), transcript: await driver.evaluate(() => window.marrowdeep.transcript) };
    if (after.transcript !== before.transcript) failures.push(`resume: after the reload: ${difference(after.transcript, before.transcript)}`);
    if (JSON.stringify(after.rows) !== JSON.stringify(before.rows)) {
        const shown = (list) => list.join('\n  ');
        failures.push(`resume: the screen after the reload is\n  ${shown(after.rows)}\nnot the screen left\n  ${shown(before.rows)}`);
    }
    if (!after.rows.some((row) => row.includes(MAP_LEGEND))) failures.push('resume: the resumed screen shows no map');

    await driver.type(keys.slice(cut));
    await driver.waitFor(settled, 120, 'the end of the keys after the reload');
    const whole = linuxBytes(keys);
    const got = await driver.evaluate(() => window.marrowdeep.transcript);
    if (got !== whole) failures.push(`resume: the whole game: ${difference(got, whole)}`);
    return failures;
}

// A game played to its end gives a link; the link, opened afresh, replays at once to the same
// transcript and shows the same screen.
export async function replayLink(driver, { origin, linuxBytes }, keys) {
    const failures = [];
    const want = linuxBytes(keys);
    await openGame(driver, origin);
    // The last key once the game waits for it, so that its echo comes after all the game wrote
    // before, as in the replay, whatever the speed of the typing.
    await driver.type(keys.slice(0, -1));
    await driver.waitFor(settled, 120, 'the game to link at its last key');
    await driver.type(keys.slice(-1));
    await driver.waitFor(settled, 120, 'the end of the game to link');
    if (!(await driver.evaluate(() => window.marrowdeep.ended))) failures.push('link: the game to link did not end');
    const played = await driver.evaluate(() => window.marrowdeep.transcript);
    if (played !== want) failures.push(`link: the game played: ${difference(played, want)}`);
    await driver.waitFor(() => window.marrowdeep.link !== null, 30, 'the link of the game');
    const link = await driver.evaluate(() => window.marrowdeep.link);
    if (!link.startsWith(`${origin}/#run=`)) return [...failures, `link: the link is ${link.slice(0, 80)}`];
    const screen = await screenRows(driver);

    // Away from the page first, so that the link loads the page anew rather than only changing
    // the address's hash.
    await driver.goto('about:blank');
    await driver.goto(link.replace('/#', '/?pauses=0#'));
    const replayed = () => window.marrowdeep?.ended && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;
    await driver.waitFor(replayed, 60, 'the replay of the link');
    const again = await driver.evaluate(() => window.marrowdeep.transcript);
    if (again !== want) failures.push(`link: the replay: ${difference(again, want)}`);
    const shown = await screenRows(driver);
    if (JSON.stringify(shown) !== JSON.stringify(screen)) {
        failures.push(`link: the replay's screen is\n  ${shown.join('\n  ')}\nnot the screen of the game played\n  ${screen.join('\n  ')}`);
    }
    return failures;
}
