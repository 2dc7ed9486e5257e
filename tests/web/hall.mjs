// The page with a hall: the real marrowdeep-hall program serving the page's folder, and the page
// in headless Chromium sending runs to it. A game played on the page is sent, its record shown,
// and found on the board page, whose row opens its replay; "Today's seed" types the day's seed;
// files of keys are sent, as the page saves them and as `script` records a terminal game; a run
// the hall refuses shows the hall's own sentence; and the page served without a hall shows none
// of this. Each scenario fails through node:assert.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { accessible } from './axe.mjs';
import { openPage as openWatched, reported, sameBytes, settled, typeKeys, waitInPage } from './harness.mjs';
import { fitFaults } from './players.mjs';

// The day the hall's clock is held at, and its seed comes from.
export const HALL_SECOND = 1796947200; // 2026-12-11T00:00:00Z
const HALL_DATE = '2026-12-11';

// Starts `program` on a free port of 127.0.0.1 (or `listen`) with a database of its own in
// `folder`, serving `site`, its clock held at HALL_SECOND and `env` added to its environment;
// resolves to {origin, stop, kill, log}: kill() ends it at once with SIGKILL.
export async function startHall(program, site, folder, { listen = '127.0.0.1:0', env = {} } = {}) {
    const hall = spawn(program, ['--site', site, '--db', `sqlite:${path.join(folder, 'hall.db')}`, '--listen', listen], {
        env: { ...process.env, MARROWDEEP_HALL_TEST_CLOCK: String(HALL_SECOND), ...env },
        stdio: ['ignore', 'ignore', 'pipe'],
    });
    const log = [];
    const lines = readline.createInterface({ input: hall.stderr });
    const origin = await new Promise((resolve, reject) => {
        const limit = setTimeout(() => reject(new Error('the hall did not say where it listens within 30 s')), 30000);
        hall.on('exit', (code) => reject(new Error(`the hall ended with ${code}: ${log.join('\n')}`)));
        lines.on('line', (line) => {
            log.push(line);
            const listening = /listening on (http:\/\/127\.0\.0\.1:\d+)\//.exec(line);
            if (listening) {
                clearTimeout(limit);
                resolve(listening[1]);
            }
        });
    });
    return {
        origin,
        log,
        stop: () =>
            new Promise((done) => {
                if (hall.exitCode !== null) return done();
                hall.on('exit', done);
                hall.kill('SIGTERM');
            }),
        kill: () =>
            new Promise((done) => {
                if (hall.exitCode !== null || hall.signalCode !== null) return done();
                hall.on('exit', done);
                hall.kill('SIGKILL');
            }),
    };
}

export async function api(origin, address) {
    const response = await fetch(origin + address);
    return response.json();
}

const said = (page) => page.evaluate(() => window.marrowdeep.said);
export const hallShown = () => Array.from(document.querySelectorAll('.run-bar button')).some((b) => b.textContent === "Today's seed");

// Opens the page; every question it asks (a new game?) is answered yes.
const openPage = (context, url, problemsOf, ready = () => window.marrowdeep?.reading) =>
    openWatched(context, url, problemsOf, { ready, what: 'the page', acceptDialogs: true });

// Presses each key on the keyboard, waiting for the game after each, as a player who watches.
async function pressEach(page, keys, what) {
    await page.bringToFront();
    for (const key of keys) {
        await page.keyboard.press(key === '\n' ? 'Enter' : key);
        await waitInPage(page, settled, 60, `the game after a key of ${what}`);
    }
}

// The rows of the terminal, trailing blanks cut, once drawn.
// A tab behind others draws nothing, so it comes to the front first.
const screenOf = async (page) => {
    await page.bringToFront();
    return page.evaluate(async () => {
        await new Promise((drawn) => requestAnimationFrame(() => requestAnimationFrame(drawn)));
        const rows = Array.from(document.querySelectorAll('.term-row'), (r) => r.textContent.trimEnd());
        return rows.join('\n').trimEnd();
    });
};

// Clicks the button of `scope` (a selector) that says `text`.
async function press(page, scope, text) {
    const clicked = await page.evaluate(
        (s, t) => {
            const button = Array.from(document.querySelectorAll(`${s} button`)).find((b) => b.textContent === t);
            button?.click();
            return Boolean(button);
        },
        scope,
        text,
    );
    if (!clicked) throw new Error(`no "${text}" button in ${scope}`);
}

// The sentence the page shows for a record the hall sent back, from the record's own figures.
export function told(record, kept) {
    const ending = { quit: 'quit', fell: 'fell in a fight', unfinished: 'unfinished' }[record.ending];
    const first = kept ? 'The hall already keeps this run' : 'The hall keeps this run';
    const n = (x) => x.toLocaleString('en');
    return `${first}: level ${record.level}, ${n(record.experience)} experience, ${ending}, ${record.boss ? 'a boss beaten' : 'no boss beaten'}, ${n(record.keys)} keys.`;
}

// The page served as a static folder (`origin`) shows no hall control, and its probe for one
// troubles nothing.
export async function withoutHall({ browser, origin }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    try {
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await typeKeys(page, 'plain\nn\n5\n1\nq', 'the game without a hall');
        const controls = await page.evaluate(() => ({
            bar: Array.from(document.querySelectorAll('.run-bar button'), (b) => b.textContent),
            list: Array.from(document.querySelectorAll('.run-list button'), (b) => b.textContent),
            file: document.querySelectorAll('input[type=file]').length,
            links: document.querySelectorAll('a[href^="hall.html"]').length,
        }));
        const want = { bar: ['New game'], list: ['Replay', 'Copy link', 'Save', 'Delete'], file: 0, links: 0 };
        assert.deepEqual(controls, want, `without a hall: the page shows ${JSON.stringify(controls)}`);
        reported(problemsOf, 'without a hall');
        // The board page asks for a board, which a static server does not have (a 404 it may log).
        await page.goto(`${origin}/hall.html`);
        await waitInPage(page, () => document.getElementById('board-said').textContent !== '', 30, 'the board page without a hall');
        const board = await page.evaluate(() => [document.getElementById('board-said').textContent, document.getElementById('board').hidden]);
        const none = ['No hall serves this page, so there is no board to show.', true];
        assert.deepEqual(board, none, `without a hall: the board page shows ${JSON.stringify(board)}`);
    } finally {
        await context.close();
    }
}

// A game played on the page and sent when it ends; the record the hall keeps is the one shown,
// sending it again from the list finds it kept, and the board page shows it, its row opening
// the replay, which plays the game again.
export async function sendAndBoard({ browser, origin, linuxBytes }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    const keys = '<i>hall</i>\nn\n42\n1\nddsdwq';
    try {
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(page, hallShown, 30, 'the hall controls');
        // Played with "Let others watch" off: nothing is streamed, and the run goes to the hall
        // only when sent.
        await page.click('.let-watch input');
        const [upToMap, onMap] = [keys.slice(0, keys.lastIndexOf('\n') + 1), keys.slice(keys.lastIndexOf('\n') + 1)];
        await typeKeys(page, upToMap, 'the game to send, up to its map');
        await typeKeys(page, onMap.slice(0, 2), 'the game to send, on its map');
        const unseen = { listed: (await api(origin, '/api/live')).games, live: await page.evaluate(() => window.marrowdeep.live?.state) };
        assert.deepEqual(unseen, { listed: [], live: 'off' }, `send: with "Let others watch" off, ${JSON.stringify(unseen)}`);
        await typeKeys(page, onMap.slice(2), 'the rest of the game to send');
        assert.equal(await page.evaluate(() => localStorage.getItem('marrowdeep.letOthersWatch')), 'off', 'send: the switch is not remembered');
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'send: the game played');
        assert.ok(await page.evaluate(() => window.marrowdeep.ended), 'send: the game did not end');
        await press(page, '.note', 'Send to the hall');
        await waitInPage(page, () => window.marrowdeep.said.startsWith('The hall '), 60, 'the record of the run sent');

        const board = await api(origin, '/api/board?seed=42');
        const record = board.runs?.[0];
        const one = board.runs?.length === 1 && record.name === '<i>hall</i>' && record.keys === keys.length && record.ending === 'quit';
        assert.ok(one, `send: the board of seed 42 is ${JSON.stringify(board)}`);
        sameBytes(await said(page), `${told(record, false)} It is number 1 on the board of seed 42.`, 'send: the sentence');
        const boardLink = await page.evaluate(() => document.querySelector('.note a')?.getAttribute('href'));
        assert.equal(boardLink, 'hall.html?seed=42', `send: the record links to ${boardLink}`);
        await accessible(page, "the page with the hall's controls and its record");

        // The same run again, from the list.
        await press(page, '.run-list li:first-child', 'Send to the hall');
        await waitInPage(page, () => window.marrowdeep.said.startsWith('The hall already'), 60, 'the record of the run sent again');
        sameBytes(await said(page), `${told(record, true)} It is number 1 on the board of seed 42.`, 'send again');
        assert.equal((await api(origin, '/api/board')).runs.length, 1, 'send again: the hall keeps the run twice');

        // The board page, from the record's link: the name as text, and the row's replay.
        await Promise.all([page.waitForNavigation(), page.click('.note a')]);
        await waitInPage(page, () => document.querySelectorAll('#board tbody tr').length > 0, 30, 'the board of seed 42');
        const rows = await page.evaluate(() => ({
            title: document.getElementById('board-title').textContent,
            cells: Array.from(document.querySelectorAll('#board tbody tr'), (tr) => Array.from(tr.cells, (td) => td.textContent)),
            markup: document.querySelectorAll('#board i').length,
        }));
        const sent = record.submitted.replace('T', ' ').slice(0, 16) + ' UTC';
        const row = ['1', '<i>hall</i>', String(record.level), record.experience.toLocaleString('en'), 'quit', record.boss ? 'beaten' : 'no', String(keys.length), '42', sent, 'Replay'];
        assert.deepEqual(rows, { title: 'The board of seed 42', cells: [row], markup: 0 }, `board: the page shows ${JSON.stringify(rows)}`);
        await accessible(page, 'hall.html, the board of seed 42');
        // In a window narrower than its columns the board shows each run as a block of its facts:
        // nothing is cut off or scrolls sideways.
        const wide = page.viewport();
        await page.setViewport({ width: 700, height: 800 });
        assert.deepEqual(await page.evaluate(fitFaults), [], 'board: hall.html in a 700 px window');
        await page.setViewport(wide);
        const run = (await api(origin, `/api/runs/${record.id}`)).run;
        await Promise.all([page.waitForNavigation(), press(page, '#board', 'Replay')]);
        assert.ok(page.url() === `${origin}/index.html#run=${run}`, `board: the replay opened ${page.url().slice(0, 100)}`);
        // The same link with pauses off, played to its end.
        const replay = await openPage(context, `${origin}/index.html?pauses=0#run=${run}`, problemsOf, () => window.marrowdeep);
        await waitInPage(replay, () => window.marrowdeep.ended && !window.marrowdeep.replaying, 60, 'the replay from the board');
        sameBytes(await replay.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'board: the replay');
        reported(problemsOf, 'send and board');
    } finally {
        await context.close();
    }
}

// "Today's seed", pressed at the name question, answers the seed questions with the day's seed
// once the name is typed: the game reads what typing it reads, the screen shows it typed, and
// the run sent (not played live) is practice on the day's board, as its page shows. Pressed again in a game past its seed, it starts a new game
// (after asking) and types the seed there too.
export async function todaysSeed({ browser, origin, linuxBytes }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    try {
        const day = await api(origin, '/api/daily');
        assert.equal(day.date, HALL_DATE, `today: the hall's day is ${day.date}, not its clock's ${HALL_DATE}`);
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(page, hallShown, 30, 'the hall controls');
        await page.click('.let-watch input'); // the run is sent by "Send to the hall"
        await press(page, '.run-bar', "Today's seed");
        await waitInPage(page, () => window.marrowdeep.said.startsWith('The seed of '), 30, "today's seed");
        const dayLink = await page.evaluate(() => document.querySelector('.note a')?.getAttribute('href'));
        assert.equal(dayLink, `hall.html?day=${HALL_DATE}`, `today: the seed's sentence links to ${dayLink}`);
        await typeKeys(page, 'daily\n', 'the name');
        const strength = () => window.marrowdeep.transcript.endsWith('Strength(1)/Tactics(2)?\n') && window.marrowdeep.reading;
        await waitInPage(page, strength, 30, 'the question after the seed');
        // The screen is the one a player gets who types the same keys, one at a time (in a
        // context of its own, as a second tab would take the game over).
        const other = await browser.createBrowserContext();
        const typist = await openPage(other, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(typist, hallShown, 30, 'the hall controls');
        await pressEach(typist, `daily\nn\n${day.seed}\n`, 'the seed typed');
        const [shown, typed] = [await screenOf(page), await screenOf(typist)];
        const asTyped = shown.includes(`\nInput Seed:\n${day.seed}\nStrength`) && shown === typed;
        assert.ok(asTyped, `today: the screen shows\n${shown}\nand for the keys typed\n${typed}`);
        await other.close();
        // The day's seed changes with the hall's secret, so the game quits at once on its map,
        // whatever the map holds.
        await typeKeys(page, '2\nq', 'the rest of the game');
        const keys = `daily\nn\n${day.seed}\n2\nq`;
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'today: the game');
        const stored = await page.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.runs'))?.[0]?.keys);
        sameBytes(stored ?? '', keys, 'today: the keys recorded');

        await press(page, '.note', 'Send to the hall');
        await waitInPage(page, () => window.marrowdeep.said.startsWith('The hall '), 60, 'the record of the day');
        // Sent, not played live: practice on the day's board, which its link shows.
        const daily = await api(origin, '/api/daily');
        const theDays = daily.runs.length === 0 && daily.practice.length === 1 && daily.practice[0].seed === day.seed && daily.practice[0].name === 'daily';
        assert.ok(theDays, `today: the day's board is ${JSON.stringify(daily)}`);
        const board = await browser.createBrowserContext();
        try {
            const rowsShown = () => document.querySelectorAll('#board tbody tr').length > 0;
            const shown = await openPage(board, `${origin}/hall.html?day=${HALL_DATE}`, problemsOf, rowsShown);
            const rows = await shown.evaluate(() => ({
                title: document.getElementById('board-title').textContent,
                rule: document.getElementById('day-rule').textContent,
                cells: Array.from(document.querySelectorAll('#board tbody tr'), (tr) => [tr.className, tr.cells[0].textContent, tr.cells[1].textContent]),
            }));
            const expected = {
                title: `The board of ${HALL_DATE}: seed ${day.seed}`,
                rule: "Each name's first game of the day's seed played live from its first key is ranked; its other runs of the seed that day are practice.",
                cells: [['practice', 'practice', 'daily']],
            };
            assert.deepEqual(rows, expected, `today: the day's page shows ${JSON.stringify(rows)}`);
        } finally {
            await board.close();
        }

        // In a game past its seed, the button starts a new game and types the seed there.
        await page.keyboard.press('Enter');
        await waitInPage(page, () => window.marrowdeep.games === 2 && window.marrowdeep.reading, 30, 'a new game');
        await typeKeys(page, 'again\nn\n3\n1\n', 'a game of another seed');
        await press(page, '.run-bar', "Today's seed");
        await waitInPage(page, () => window.marrowdeep.games === 3 && window.marrowdeep.reading, 30, 'the game for the seed');
        await typeKeys(page, 'again\n', 'the name again');
        await waitInPage(page, strength, 30, 'the question after the seed again');
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(`again\nn\n${day.seed}\n`), 'today, again');
        reported(problemsOf, "today's seed");
    } finally {
        await context.close();
    }
}

// Files of keys sent: one as the page saves it, one that `script` recorded while the Linux
// program was played in a terminal (Enter as CR, a name mended with Backspace), one of a game
// that took its seed from the clock, which cannot be proven, and a run of another version of the
// game, which the hall refuses in its own words.
export async function keysFiles({ browser, origin, terminalRecording }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-keys-'));
    try {
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf);
        await waitInPage(page, hallShown, 30, 'the hall controls');
        const upload = async (name, bytes) => {
            const file = path.join(folder, name);
            fs.writeFileSync(file, Buffer.from(bytes, 'latin1'));
            await page.evaluate(() => window.marrowdeep.said === '' || document.querySelector('.note button:last-child').click());
            const input = await page.$('input[type=file]');
            await input.uploadFile(file);
            await waitInPage(page, () => window.marrowdeep.said !== '' && !window.marrowdeep.said.startsWith('Sending'), 60, `the answer to ${name}`);
            return said(page);
        };

        // The greatest seed the game takes, past what a JavaScript number holds exactly.
        const most = '9223372036854775807';
        const saved = `filed\nn\n${most}\n1\nsdq`;
        const first = await upload(`marrowdeep-filed-${most}.keys`, saved);
        const filed = (await api(origin, `/api/board?seed=${most}`)).runs?.[0];
        assert.ok(filed && filed.name === 'filed' && filed.keys === saved.length, `file: the board of seed ${most} holds ${JSON.stringify(filed)}`);
        sameBytes(first, `${told(filed, false)} It is number 1 on the board of seed ${most}.`, 'file: the sentence');
        const link = await page.evaluate(() => document.querySelector('.note a')?.getAttribute('href'));
        assert.equal(link, `hall.html?seed=${most}`, `file: the record links to ${link}`);

        // A game whose keys run out before its end is kept, but is on no board.
        const openKeys = 'open\nn\n8\n1\nd';
        const open = await upload('marrowdeep-open-8.keys', openKeys);
        const kept = await api(origin, '/api/board?seed=8');
        const unfinished = `level 1, 0 experience, unfinished, no boss beaten, ${openKeys.length} keys. Only finished runs played without a hidden mode are on the boards.`;
        const keptOffTheBoard = open === `The hall keeps this run: ${unfinished}` && kept.runs?.length === 0;
        assert.ok(keptOffTheBoard, `unfinished file: the page says "${open}" and the board of seed 8 is ${JSON.stringify(kept)}`);

        if (terminalRecording) {
            const { typed, read } = terminalRecording;
            const answer = await upload('typescript.keys', typed);
            const board = (await api(origin, '/api/board?seed=31')).runs ?? [];
            const run = board.length === 1 ? await api(origin, `/api/runs/${board[0].id}`) : null;
            const taken = run && run.name === 'term' && run.keys === read.length && run.ending === 'quit';
            assert.ok(taken, `terminal: the page says "${answer}" and the board of seed 31 holds ${JSON.stringify(board)}`);
        }

        // A name of 41 bytes: the page says the hall would refuse it, and sends nothing.
        let posted = 0;
        page.on('request', (r) => r.url().endsWith('/api/runs') && (posted += 1));
        const tooLong = await upload('marrowdeep-long-5.keys', `${'n'.repeat(41)}\nn\n5\n1\nq`);
        sameBytes(tooLong, "The hero's name is longer than 40 bytes; the hall takes names of at most 40.", 'a name too long');
        assert.equal(posted, 0, `a name too long: the page sent it ${posted} times`);
        // Twenty é, two bytes each in UTF-8: 40 bytes, taken.
        const fortyBytes = await upload('marrowdeep-forty-5.keys', `${'\u00c3\u00a9'.repeat(20)}\nn\n5\n1\nq`);
        assert.ok(fortyBytes.startsWith('The hall keeps this run'), `a name of 40 bytes: the page says "${fortyBytes}"`);

        const clock = await upload('marrowdeep-clock-clock.keys', 'clock\ny\n1\nq');
        const CLOCK = 'This game took its seed from the clock, and a file of keys does not hold the second it read, so it cannot be proven.';
        sameBytes(clock, CLOCK, 'file with the clock');

        // A run of version 0.9 in the list: the hall's own sentence for it.
        await page.evaluate(() => {
            const run = { keys: 'old\nn\n1\n1\nq', clock: null, version: '0.9', started: 1, id: 'old', name: 'old', seed: '1', ending: 'quit' };
            localStorage.setItem('marrowdeep.runs', JSON.stringify([run]));
        });
        const refused = new Promise((resolve) => {
            page.on('response', (r) => r.url().endsWith('/api/runs') && r.status() === 422 && resolve(r.json()));
        });
        await page.reload();
        await waitInPage(page, hallShown, 30, 'the hall controls after the reload');
        await press(page, '.run-list li:first-child', 'Send to the hall');
        const { error } = await refused;
        await waitInPage(page, () => !window.marrowdeep.said.startsWith('Sending'), 30, 'the refusal');
        sameBytes(await said(page), error, 'another version');
        reported(problemsOf.flat().filter((p) => !p.includes('422')), 'files');
    } finally {
        await context.close();
        fs.rmSync(folder, { recursive: true, force: true });
    }
}

// What covers the game at the window's size, as a list of faults (with `answer` 'none', whether
// there is none, for waiting on): the terminal out of the window, a row of it in view that a
// notice (the page's word to the player, or any status) meets, or at whose two ends and middle
// the page shows anything but the terminal; the page's word out of the window, or not shown.
function coverings(answer) {
    const faults = [];
    const terminal = document.getElementById('terminal');
    const box = terminal.getBoundingClientRect();
    const [width, height] = [window.innerWidth, window.innerHeight];
    const where = (b) => `${Math.round(b.left)}..${Math.round(b.right)} x ${Math.round(b.top)}..${Math.round(b.bottom)}`;
    if (box.left < 0 || box.top < 0 || box.right > width || box.bottom > height) {
        faults.push(`the terminal spans ${where(box)} of a ${width} x ${height} window`);
    }
    const note = document.querySelector('.note');
    if (!note || !note.getClientRects().length) faults.push("the page's word does not show");
    else {
        const b = note.getBoundingClientRect();
        if (b.left < 0 || b.top < 0 || b.right > width || b.bottom > height) faults.push(`the page's word spans ${where(b)} of a ${width} x ${height} window`);
    }
    const notices = Array.from(document.querySelectorAll('.note, [role=status]')).filter((e) => e.getClientRects().length);
    const rows = Array.from(document.querySelectorAll('.term-row'), (r) => r.getBoundingClientRect()).filter(
        (r) => r.bottom > box.top + 0.5 && r.top < box.bottom - 0.5,
    );
    const shown = window.marrowdeep.rows().length;
    if (rows.length < shown) faults.push(`${rows.length} rows in view of the terminal's ${shown}`);
    rows.forEach((r, i) => {
        for (const notice of notices) {
            const b = notice.getBoundingClientRect();
            if (b.left < r.right && r.left < b.right && b.top < r.bottom && r.top < b.bottom) {
                faults.push(`row ${i} (${where(r)}) meets "${notice.textContent.slice(0, 40)}" (${where(b)})`);
            }
        }
        const y = (r.top + r.bottom) / 2;
        for (const x of [box.left + 1, (box.left + box.right) / 2, box.right - 1]) {
            const at = document.elementFromPoint(x, y);
            if (!at || !terminal.contains(at)) faults.push(`row ${i} shows ${at ? `${at.tagName}.${at.className}` : 'nothing'} at ${Math.round(x)}, ${Math.round(y)}`);
        }
    });
    return answer === 'none' ? faults.length === 0 : faults;
}

// At each size of the layout tests, once a game has ended and again once the hall has answered
// its run, the page's word shows in the window and covers no row of the game. The phones share a
// page, turned from one size to the next, and so do the windows (a page is loaded again when its
// touch screen comes or goes).
export async function noticesBeside({ browser, origin }, sizes) {
    const problemsOf = [];
    const groups = [sizes.filter((s) => s.viewport.hasTouch), sizes.filter((s) => !s.viewport.hasTouch)];
    for (const group of groups) {
        const context = await browser.createBrowserContext();
        try {
            const viewport = group[0].viewport;
            const page = await openWatched(context, `${origin}/?pauses=0`, problemsOf, { what: 'the page', acceptDialogs: true, viewport });
            await waitInPage(page, hallShown, 30, 'the hall controls');
            await page.click('.let-watch input'); // the run goes to the hall when sent
            await typeKeys(page, 'notice\nn\n42\n1\nq', 'the game whose end shows a notice');
            const checkAll = async (when) => {
                for (const { what, viewport } of group) {
                    await page.setViewport(viewport);
                    // The page as it opens, at its top (pressing a control lower down scrolled it).
                    await page.evaluate(() => window.scrollTo(0, 0));
                    try {
                        await page.waitForFunction(coverings, { timeout: 10000, polling: 20 }, 'none');
                    } catch {
                        const faults = await page.evaluate(coverings, 'list');
                        assert.deepEqual(faults, [], `${when}, on ${what}: ${faults.join('; ')}`);
                    }
                }
            };
            await waitInPage(page, () => window.marrowdeep.said === 'The run is in the list of runs.', 30, "the game's end said");
            await checkAll("at the game's end");
            await press(page, '.note', 'Send to the hall');
            await waitInPage(page, () => window.marrowdeep.said.startsWith('The hall '), 60, "the hall's answer");
            await checkAll("once the hall answered");
        } finally {
            await context.close();
        }
    }
    reported(problemsOf, 'notices beside the game');
}
