// Holds the page's screen against a real terminal: the saved games, their keys as a player types
// them (and, with --fuzz, the generated tour the page test plays), stop at the first questions,
// a map, the refresh question, a fight, the status screen, the scroll list before and after a
// scroll is chosen, and a room of the tier, and there the rows the page shows (window.marrowdeep.rows(), in headless Chromium at 1280x800)
// must be the rows tmux shows (capture-pane) for the Linux program fed the same keys in a pane
// of the page's size. The program runs with the marks library in its mode of real clears and
// pauses that pass at once, its clock held still.
//
//   node tmux_screens.mjs --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY --regressions DIR
//                         [--fuzz FUZZ_DRIVER] [--chromium PATH] [--columns N]
//
// Where a screen stops is found with the marks library's transcript: the fewest keys after
// which the program has written the screen's text. Both sides then get the keys in two goes: all
// of them up to the last clear before that screen at once, and the rest one at a time, each once
// the game waits for it, so that every echo on the screen comes where a player's would.
//
// Each game is a test of node:test and each of its screens a test within it, so that a screen
// that differs names its game and screen, and the others still report.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { describe, it } from 'node:test';
import { MAP_LEGEND, commandLine, linuxTools, openPage, reported, servedInBrowser, typeable } from './harness.mjs';

const opt = commandLine(['page', 'program', 'marks', 'regressions']);
const COLUMNS = Number(opt.columns);
const SECOND = 1796000000; // the clock, for a game whose seed comes from it

// The screens: the text that tells one, and the text it must come after (the first of the list
// the game wrote), if any.
const SCREENS = [
    { what: 'the questions', text: 'Strength(1)/Tactics(2)?' },
    { what: 'a map', text: MAP_LEGEND, after: ['YOU WIN!', 'Seed: '] },
    { what: 'the refresh question', text: 'refresh the map at the cost' },
    { what: 'a fight', text: 'Press k to attack' },
    { what: 'the status screen', text: 'YOUR WEAPON:' },
    { what: 'the scroll list', text: 'Enter the scrolls you wish to use' },
    { what: 'a scroll chosen', text: 'increased by', after: ['Enter the scrolls you wish to use'] },
    { what: 'a room of the tier', text: 'Press k to attack', after: ['TIER LAYER:'] },
];

const { linuxBytes, typeableStream } = linuxTools(opt);
const wait = (ms) => new Promise((next) => setTimeout(next, ms));

// Polls `test` every 2 ms for at most `seconds`; fails telling `what`.
async function until(test, seconds, what) {
    const end = Date.now() + seconds * 1000;
    while (!test()) {
        if (Date.now() > end) throw new Error(`no ${what()} within ${seconds} s`);
        await wait(2);
    }
}

// The stops of a game: for each screen it reaches, the number of keys after which the program
// waits on it, and the number it can be typed ahead to (the keys read before the screen's last
// clear).
function stopsOf(keys, second) {
    const full = linuxBytes(keys, second);
    const outputs = new Map();
    const output = (k) => {
        if (!outputs.has(k)) outputs.set(k, linuxBytes(keys.slice(0, k), second));
        return outputs.get(k);
    };
    // The fewest keys whose output holds the first `length` bytes of the whole game's.
    const fewest = (length) => {
        let low = 0;
        let high = keys.length;
        while (low < high) {
            const mid = (low + high) >> 1;
            if (output(mid).startsWith(full.slice(0, length))) high = mid;
            else low = mid + 1;
        }
        return low;
    };
    const stops = [];
    for (const screen of SCREENS) {
        const from = (screen.after ?? []).map((text) => full.indexOf(text)).find((at) => at >= 0);
        if (screen.after && from === undefined) continue;
        const at = full.indexOf(screen.text, from ?? 0);
        if (at < 0) continue;
        const keysTo = fewest(at + screen.text.length);
        // The keys typed ahead are all read before the screen's last clear: its cause is a later
        // key. One key less, for a number whose end the program learns only from the next key
        // in a terminal, and from the end of the input here.
        const clear = full.lastIndexOf('<clear>', at);
        const ahead = clear < 0 ? 0 : Math.max(0, fewest(clear + 1) - 2);
        stops.push({ what: screen.what, text: screen.text, keys: keysTo, ahead });
    }
    return stops.sort((a, b) => a.keys - b.keys);
}

// The Linux program in a tmux pane of a private server, the size of the page's screen.
function tmuxPane({ name, second, rows }) {
    const socket = `marrowdeep-screens-${process.pid}-${name}`;
    const env = { ...process.env };
    delete env.TMUX;
    const tmux = (...args) => {
        const run = spawnSync('tmux', ['-f', '/dev/null', '-L', socket, ...args], { env, timeout: 20000 });
        if (run.status !== 0) throw new Error(`tmux ${args[0]}: ${run.stderr}`);
        return run.stdout.toString('latin1');
    };
    const clock = second === undefined ? [] : [`FAST_CONSOLE_TIME=${second}`];
    tmux(
        'start-server', ';', 'set-option', '-g', 'status', 'off', ';',
        'new-session', '-d', '-s', 'game', '-x', String(COLUMNS), '-y', String(rows),
        'env', `LD_PRELOAD=${path.resolve(opt.marks)}`, 'FAST_CONSOLE_REAL_CLEARS=1', ...clock, path.resolve(opt.program),
    );
    const [pid, tty] = tmux('display-message', '-p', '-t', 'game', '#{pane_pid} #{pane_tty}').trim().split(' ');
    const read = (file) => {
        try {
            return fs.readFileSync(`/proc/${pid}/${file}`, 'latin1');
        } catch {
            return '';
        }
    };
    const counter = (name) => Number(new RegExp(`${name}: (\\d+)`).exec(read('io'))?.[1] ?? NaN);
    // Where the system lets the process's system call be seen: blocked in a read of its standard
    // input, it has done all it could with the keys so far. Elsewhere (a kernel that shows it only
    // to a tracer) it must be asleep, and it must have written nothing more while tmux took in
    // all it wrote before: a process asleep in a write to a full terminal is not yet done.
    const exact = read('syscall') !== '';
    const waiting = () => (exact ? read('syscall').startsWith('0 0x0 ') : /\) S /.test(read('stat')));
    let base = 0;
    let synced = 0;
    // Waits until tmux has taken in all the program wrote: a title set after it on the same
    // terminal, and seen by tmux, comes after the program's last byte.
    const drained = async () => {
        synced += 1;
        fs.writeFileSync(tty, `\x1b]2;marrowdeep-${synced}\x1b\\`);
        const title = () => tmux('display-message', '-p', '-t', 'game', '#{pane_title}').trim();
        await until(() => title() === `marrowdeep-${synced}`, 30, () => 'title in tmux');
    };
    const settled = async (total) => {
        for (;;) {
            const what = () => `read of ${total} keys in tmux (${counter('rchar') - base} read)`;
            await until(() => counter('rchar') - base === total && waiting(), 30, what);
            if (exact) return;
            const written = counter('wchar');
            await drained();
            if (counter('wchar') === written && waiting()) return;
        }
    };
    return {
        // Waits for the name question, which comes after the first clear: from then on the
        // program reads only its keys.
        async start() {
            const asked = () => waiting() && tmux('capture-pane', '-p', '-t', 'game').includes('Please insert your name:');
            await until(asked, 30, () => 'name question in tmux');
            base = counter('rchar');
            await settled(0);
        },
        // Types `keys` and waits until the program has read `total` bytes in all and waits again.
        async type(keys, total) {
            // Each key as its bytes, Enter as the Enter key sends it (CR).
            const bytes = Buffer.from(keys.replaceAll('\n', '\r'), 'latin1');
            if (keys.length) tmux('send-keys', '-t', 'game', '-H', ...bytes.toString('hex').match(/../g));
            await settled(total);
        },
        // The rows shown once tmux has taken in all the program wrote.
        async rows() {
            await drained();
            return tmux('capture-pane', '-p', '-t', 'game').split('\n').slice(0, rows).map((row) => row.trimEnd());
        },
        close() {
            spawnSync('tmux', ['-L', socket, 'kill-server'], { env });
        },
    };
}

// The page in Chromium at 1280x800, pauses off, the clock held at `second` if given.
async function pagePlayer(chromium, origin, second) {
    const context = await chromium.browser.createBrowserContext();
    const problems = [];
    const holdTheClock = (page) => page.evaluateOnNewDocument((ms) => (Date.now = () => ms), second * 1000 + 400);
    const page = await openPage(context, `${origin}/?pauses=0`, problems, {
        viewport: { width: 1280, height: 800 },
        prepare: second === undefined ? undefined : holdTheClock,
    });
    const readAll = (total) =>
        window.marrowdeep.reading &&
        window.marrowdeep.writing === 0 &&
        (JSON.parse(localStorage.getItem('marrowdeep.game'))?.keys.length ?? 0) === total;
    return {
        problems,
        rowCount: () => page.evaluate(() => window.marrowdeep.rows().length),
        async type(keys, total) {
            if (keys.length) await page.keyboard.type(keys);
            try {
                await page.waitForFunction(readAll, { timeout: 30000, polling: 10 }, total);
            } catch {
                throw new Error(`the page did not read ${total} keys within 30 s`);
            }
        },
        rows: () =>
            page.evaluate(async () => {
                await new Promise((drawn) => requestAnimationFrame(() => requestAnimationFrame(drawn)));
                return window.marrowdeep.rows().map((row) => row.trimEnd());
            }),
        close: () => context.close(),
    };
}

// The keys the program has read once `typed` are typed: nothing of the name until its line ends.
const readOf = (typed) => (typed.includes('\n') ? typed.length : 0);

const games = fs.readdirSync(opt.regressions).sort().map((file) => [file, fs.readFileSync(path.join(opt.regressions, file), 'latin1')]);
if (opt.fuzz) games.push(['generated tour 244', typeableStream(244)]);

describe("the page's screens as tmux shows them", () => {
    const seen = new Set();
    let compared = 0;
    let size = '';
    const served = servedInBrowser(opt.page, 'chromium', opt);

    for (const [number, [file, saved]] of games.entries()) {
        it(file, async (t) => {
            const keys = typeable(saved);
            const second = linuxBytes(keys).includes('Input Seed:') ? undefined : SECOND;
            const stops = stopsOf(keys, second);
            if (!stops.length) return t.skip('it reaches none of the screens');
            const page = await pagePlayer(served.engine, served.server.origin, second);
            const rows = await page.rowCount();
            size = `${COLUMNS}x${rows}`;
            const pane = tmuxPane({ name: String(number), second, rows });
            try {
                await pane.start();
                let typed = 0;
                const typeKey = async () => {
                    typed += 1;
                    for (const player of [pane, page]) await player.type(keys[typed - 1], readOf(keys.slice(0, typed)));
                };
                for (const stop of stops) {
                    if (stop.keys < typed) continue;
                    // At once up to the last clear before the screen, then a key at a time.
                    const ahead = Math.max(typed, stop.ahead);
                    for (const player of [pane, page]) await player.type(keys.slice(typed, ahead), readOf(keys.slice(0, ahead)));
                    typed = ahead;
                    while (typed < stop.keys) await typeKey();
                    // A number's end, and the screen after it, comes in a terminal only with the key
                    // after it (in the transcript the end of the input ends it).
                    let want = await pane.rows();
                    while (!want.some((row) => row.includes(stop.text)) && typed < Math.min(keys.length, stop.keys + 40)) {
                        await typeKey();
                        want = await pane.rows();
                    }
                    const inTmux = want.some((row) => row.includes(stop.text));
                    // Keys that end before the number does reach the screen only by their end.
                    if (!inTmux && typed === keys.length) continue;
                    const got = inTmux ? await page.rows() : [];
                    await t.test(`${stop.what} after ${typed} keys`, () => {
                        assert.ok(inTmux, `tmux does not show "${stop.text}" after ${typed} keys`);
                        compared += 1;
                        seen.add(stop.what);
                        const wide = got.findIndex((row) => row.length > COLUMNS);
                        assert.equal(wide, -1, `the page's row ${wide + 1} is wider than ${COLUMNS} columns`);
                        const differ = got.map((row, i) => (row === want[i] ? '' : `${i + 1}`)).filter(Boolean);
                        assert.deepEqual(
                            got,
                            want,
                            `the rows ${differ.join(', ')} differ\n  page:\n    |${got.join('\n    |')}\n  tmux:\n    |${want.join('\n    |')}`,
                        );
                    });
                }
                reported(page.problems, file);
            } finally {
                pane.close();
                await page.close();
            }
        });
    }

    it('every screen is reached by a saved game', (t) => {
        const missed = SCREENS.map((screen) => screen.what).filter((what) => !seen.has(what));
        assert.deepEqual(missed, [], `no saved game reached ${missed.join(', ')}`);
        t.diagnostic(`${compared} screens of the page as tmux shows them, in ${size} cells`);
    });
});
