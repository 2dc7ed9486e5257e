// The watcher's page (watch.html) with the real hall (hall.mjs): a game played live in Chromium
// is followed by a watcher in another engine (Firefox unless --engine says otherwise), whose
// screen is the player's after every batch of keys and whose transcript is the Linux program's
// bytes for the keys so far; a second watcher in Chromium joins half-way and equals the first;
// the hall is killed with SIGKILL half-way and started again on its database, and the watchers
// come back on their own and catch up while the player resumes with its token; the end shows
// with the hall's record and a link that replays the run; a watcher with pauses passes over
// those with keys still to play and waits for the rest, and one in a hidden tab waits for none
// (told by the pauses each counts, never by a clock); a game on the day's seed reaches its
// watcher only five minutes late by the hall's clock (held in a file the test writes); and the
// list of live games shows a name as text, and a watch of no game says so and shows the list.
//
//   node watch_test.mjs --page DIR --hall HALL_PROGRAM --program LINUX_PROGRAM --marks MARKS_LIBRARY
//                       --regressions DIR [--engine firefox|webkit] [--every-key] [--chromium PATH]
//                       [--firefox PATH] [--webkit-driver PATH] [--minibrowser PATH]
//
// With --every-key the first watcher is held to the player after every key the game reads, not
// only after each batch: the release checks ask it of one engine, which is enough to catch a
// key drawn late or twice, and the batches of the other.
//
// The player is the game's page in Chromium typed on a key at a time, each key once the game
// waits for it, playing the game live on the hall itself (livePlayer below); where the test needs
// batches of its own choosing, a socket of the test's own in that page sends them instead. Every
// wait is for a condition, with a generous limit; nothing sleeps.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { HALL_SECOND, startHall } from './hall.mjs';
import { commandLine, forgiveHallDown, linuxTools, openPage, replayedToTheEnd, reported, sameBytes, sameRows, settled, startBrowser, waitInPage } from './harness.mjs';

const opt = commandLine(['page', 'hall', 'program', 'marks', 'regressions']);
const { linuxBytes } = linuxTools(opt);
const engine = opt.engine ?? 'firefox';
// The player and the second watcher are Chromium's; a watcher in view needs a browser of its own.
if (engine === 'chromium') throw new Error('the watcher is followed in another engine than the player: firefox or webkit');
const site = path.resolve(opt.page);
// The game followed: the saved game that goes into the tier and reads every scroll, then quits.
const GAME = fs.readFileSync(path.join(opt.regressions, 'tier-then-every-scroll.bin'), 'latin1');
const BATCHES = 8;
const VIEWPORT = { width: 1280, height: 800 };

// The player: the game's page in Chromium (`context`), typed on a key at a time, each once the
// game waits for it. By default the page itself plays the game live on the hall, as a player's
// does. With `{ socket: true }` its "Let others watch" is off and the test's own socket, opened in
// the page with the browser's WebSocket, sends the hall the keys the game read in the batches the
// test chooses. Answers {page, id, start(keys), press(keys), allRead(), send(upTo), type(keys),
// resume(), end()}.
async function livePlayer(context, origin, problemsOf, viewport, { socket = false } = {}) {
    const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, { viewport });
    if (socket) {
        // The switch shows once the page has found its hall.
        await waitInPage(page, () => document.querySelector('label.let-watch input') !== null, 30, 'the switch "Let others watch"');
        await page.evaluate(() => {
            const box = document.querySelector('label.let-watch input');
            if (box.checked) box.click();
        });
        await page.evaluate(() => {
            const p = { socket: null, said: [], closed: null, sent: 0, id: null, token: null };
            // Opens the socket and sends `first`; resolves to the hall's answer to it.
            p.open = (first) =>
                new Promise((resolve, reject) => {
                    const s = new WebSocket(`ws://${window.location.host}/api/live/play`);
                    p.socket = s;
                    p.said = [];
                    p.closed = null;
                    s.addEventListener('open', () => s.send(JSON.stringify(first)));
                    s.addEventListener('message', (e) => {
                        const said = JSON.parse(e.data);
                        p.said.push(said);
                        if (typeof said.token === 'string') {
                            p.id = said.id;
                            p.token = said.token;
                            p.sent = said.keys;
                            resolve(said);
                        }
                    });
                    s.addEventListener('close', (e) => {
                        p.closed = `${e.code}: ${e.reason}`;
                        reject(new Error(`the hall closed the player's socket: ${p.closed}`));
                    });
                });
            p.committed = () => Math.max(-1, ...p.said.filter((m) => Number.isInteger(m.keys) && !m.token).map((m) => m.keys));
            p.record = () => p.said.find((m) => m.record || m.error);
            window.testPlayer = p;
        });
    }
    // The run on the page as a link's text, once the page has made the link of all its keys.
    const linkText = async () => {
        await waitInPage(page, () => window.marrowdeep.link !== null, 30, 'the link of the game on the page');
        return page.evaluate(() => window.marrowdeep.link.slice(window.marrowdeep.link.indexOf('#run=') + 5));
    };
    let typed = '';
    // Types `keys` on the page, each once the game waits for it; `eachKey(n)` is awaited after
    // each key the game has read with every key before it, `n` the keys typed.
    const press = async (keys, eachKey = null) => {
        await page.bringToFront();
        for (const key of keys) {
            await page.keyboard.press(key === '\n' ? 'Enter' : key);
            await waitInPage(page, settled, 60, `the player's game after a key`);
            typed += key;
            if (eachKey && (await player.allRead())) await eachKey(typed.length);
        }
    };
    // The page's own stream, live on the hall (or ending there) with its first `n` keys on the
    // hall's disk.
    const liveWith = (n) => ['live', 'ending', 'ended'].includes(window.marrowdeep.live?.state) && window.marrowdeep.live.keysAcknowledged >= n;
    const player = {
        page,
        id: null,
        // Starts the live game once the game has read `keys`. The page goes live once the game's
        // seed is settled (its way of fighting asked), so `keys` reach that question; the test's
        // socket starts wherever it is told.
        async start(keys) {
            if (typed.length < keys.length) await press(keys.slice(typed.length));
            if (!socket) {
                await waitInPage(page, liveWith, 30, 'the page live on the hall', keys.length).catch(async (e) => {
                    throw new Error(`${e.message}: ${JSON.stringify(await page.evaluate(() => [window.marrowdeep.live, window.marrowdeep.rows().filter((r) => r.trim())]))}`);
                });
                player.id = await page.evaluate(() => window.marrowdeep.live.id);
                return;
            }
            const text = await linkText();
            const answer = await page.evaluate((run) => window.testPlayer.open({ run }), text);
            assert.equal(answer.keys, keys.length, `the hall holds ${answer.keys} keys of a new game of ${keys.length}`);
            player.id = answer.id;
        },
        // Types `keys`, each once the game waits for it (or the key before is still in its line).
        press,
        // Whether the game has read every key typed.
        allRead: () => page.evaluate((n) => JSON.parse(localStorage.getItem('marrowdeep.game'))?.keys.length === n, typed.length),
        // The keys typed up to `upTo` on the hall's disk: the page's own stream sends each as the
        // game reads it; the test's socket sends those the hall does not have in one batch.
        async send(upTo = typed.length) {
            if (!socket) return waitInPage(page, liveWith, 30, `the hall's answer for ${upTo} keys`, upTo);
            const from = await page.evaluate(() => window.testPlayer.sent);
            await page.evaluate((rest) => window.testPlayer.socket.send(Uint8Array.from(rest, (c) => c.charCodeAt(0))), typed.slice(from, upTo));
            await page.evaluate((n) => (window.testPlayer.sent = n), upTo);
            await waitInPage(page, (n) => window.testPlayer.committed() >= n, 30, `the hall's answer for ${upTo} keys`, upTo);
        },
        // Types `keys` and sends them.
        async type(keys) {
            await press(keys);
            await player.send();
        },
        // The game resumed on a new socket with its token, the hall holding every key typed: the
        // page's own stream does it by itself once the hall is back.
        async resume() {
            if (!socket) {
                await waitInPage(page, liveWith, 60, 'the page live again on the hall', typed.length);
                assert.equal(await page.evaluate(() => window.marrowdeep.live.id), player.id, 'the resumed game is another');
                return;
            }
            const text = await linkText();
            const answer = await page.evaluate((run) => window.testPlayer.open({ run, token: window.testPlayer.token }), text);
            assert.equal(answer.id, player.id, 'the resumed game is another');
            assert.equal(answer.keys, typed.length, `the hall holds ${answer.keys} of the ${typed.length} keys answered`);
        },
        // The game's end, once its keys are typed; resolves to the hall's record of it. The page
        // sends the end itself when its game ends.
        async end() {
            if (!socket) {
                await waitInPage(page, () => window.marrowdeep.live?.run, 60, "the hall's record on the page");
                const run = await page.evaluate(() => window.marrowdeep.live.run);
                return (await fetch(`${origin}/api/runs/${run}`)).json();
            }
            await page.evaluate(() => window.testPlayer.socket.send(JSON.stringify({ end: true })));
            await waitInPage(page, () => window.testPlayer.record() !== undefined, 60, "the hall's record");
            const answer = await page.evaluate(() => window.testPlayer.record());
            assert.ok(answer.record, `the hall answered the end with ${JSON.stringify(answer)}`);
            return answer.record;
        },
    };
    return player;
}

// The watcher has every one of `n` keys, has played them all and has drawn what they wrote.
const caughtUp = (n) => window.marrowdeep?.keys === n && window.marrowdeep.settled && window.marrowdeep.behind === 0;

// What a driver's page (drivers.mjs) or a puppeteer page shows: rows with trailing blanks cut,
// and the transcript.
const shownBy = () => ({ rows: window.marrowdeep.rows().map((row) => row.trimEnd()), transcript: window.marrowdeep.transcript });

// The sentence the watch page shows at the end, from the record's own figures.
function endSaid(record) {
    const ending = { quit: 'quit', fell: 'fell in a fight', unfinished: 'unfinished' }[record.ending];
    const n = (x) => x.toLocaleString('en');
    const boss = record.boss ? 'a boss beaten' : 'no boss beaten';
    return `The game is over, and the hall keeps it: level ${record.level}, ${n(record.experience)} experience, ${ending}, ${boss}, ${n(record.keys)} keys. Replay the whole run`;
}

// Writes the hall's clock, whole, by a rename, so the hall never reads it half written.
function setClock(file, second) {
    fs.writeFileSync(`${file}.new`, String(second));
    fs.renameSync(`${file}.new`, file);
}

async function listed(origin) {
    const response = await fetch(`${origin}/api/live`);
    return (await response.json()).games;
}

describe(`the watch page, watched in ${engine}`, () => {
    let folder;
    let clock;
    let chromium;
    let watcherBrowser;
    let hall = null;
    let port;
    let failed = false;
    const scenario = (run) => async () => {
        try {
            await run();
        } catch (error) {
            failed = true;
            throw error;
        }
    };
    const startOurHall = async () => {
        hall = await startHall(path.resolve(opt.hall), site, folder, {
            listen: `127.0.0.1:${port ?? 0}`,
            env: { MARROWDEEP_HALL_TEST_CLOCK_FILE: clock },
        });
        port = new URL(hall.origin).port;
    };

    before(async () => {
        folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-watch-test-'));
        clock = path.join(folder, 'clock');
        setClock(clock, HALL_SECOND);
        await startOurHall();
        chromium = await startBrowser('chromium', opt);
        watcherBrowser = await startBrowser(engine, opt);
    });
    after(async () => {
        await watcherBrowser?.close();
        await chromium?.close();
        if (hall) await hall.stop();
        if (failed && hall) console.log(`the hall's log:\n${hall.log.join('\n')}`);
        fs.rmSync(folder, { recursive: true, force: true });
    });

    it(
        'a game followed to its end, a second watcher half-way, the hall killed and started again',
        scenario(() =>
            watcherBrowser.inFreshPage(
                hall.origin,
                async (watcher) => {
                    const problemsOf = [];
                    const context = await chromium.browser.createBrowserContext();
                    try {
                        // The player's page the size of the watcher's, so both screens have the
                        // same rows and columns.
                        await watcher.goto(`${hall.origin}/watch.html`);
                        const size = await watcher.evaluate(() => ({ width: window.innerWidth, height: window.innerHeight }));
                        const player = await livePlayer(context, hall.origin, problemsOf, size);
                        // The game begun, and watched from its first batch, played at once.
                        // Each batch ends about where an eighth of the keys does, at the first key
                        // after it that the game has read with all before it (a line's keys are read
                        // once it ends).
                        const whole = linuxBytes(GAME);
                        const cuts = [0];
                        // Once watched, after every key the game has read (with --every-key), the
                        // watcher has it played and shows what the player shows.
                        let eachKey = null;
                        const nextCut = async (from) => {
                            let end = Math.min(GAME.length, Math.round(GAME.length * (cuts.length / BATCHES)));
                            await player.press(GAME.slice(from, end), eachKey);
                            while (end < GAME.length && !(await player.allRead())) await player.press(GAME[end++], eachKey);
                            cuts.push(end);
                            return end;
                        };
                        await player.start(GAME.slice(0, await nextCut(0)));
                        await watcher.goto(`${hall.origin}/watch.html?id=${player.id}&pauses=0`);
                        assert.equal(await watcher.evaluate(() => window.marrowdeep.watching), player.id);
                        eachKey = !opt['every-key'] ? null : async (n) => {
                            if (n === GAME.length) return; // the end is held below, with the page's end word
                            await watcher.waitFor(caughtUp, 60, `the watcher after key ${n}`, n);
                            const seen = await watcher.evaluate(shownBy);
                            const mine = await player.page.evaluate(shownBy);
                            sameBytes(seen.transcript, mine.transcript, `the watcher after key ${n}`);
                            sameRows(seen.rows, mine.rows, `the watcher's screen after key ${n}`, "the player's");
                        };
                        let second = null;
                        for (let b = 1; ; ++b) {
                            if (b > 1) await player.send(await nextCut(cuts.at(-1)));
                            const upTo = cuts[b];
                            const last = upTo === GAME.length;
                            const what = `after ${upTo} keys`;
                            await watcher.waitFor(caughtUp, 60, `the watcher ${what}`, upTo);
                            // What the player saw: the page tests hold the game's page against the
                            // Linux program, byte for byte and, in a terminal, row for row. Its
                            // bytes so far are those the Linux program writes first for the whole
                            // game (at the end of its input, a game waiting for the rest of a number
                            // would go on without it). The last screen has the page's own end word.
                            const seen = await watcher.evaluate(shownBy);
                            const mine = await player.page.evaluate(shownBy);
                            assert.ok(whole.startsWith(mine.transcript), `the player ${what} is not the Linux program's game`);
                            sameBytes(seen.transcript, mine.transcript, `the watcher ${what}`);
                            if (!last) sameRows(seen.rows, mine.rows, `the watcher's screen ${what}`, "the player's");
                            if (second) {
                                await waitInPage(second, caughtUp, 60, `the second watcher ${what}`, upTo);
                                const also = await second.evaluate(shownBy);
                                sameBytes(also.transcript, seen.transcript, `the second watcher ${what}`);
                                if (!last) sameRows(also.rows, seen.rows, `the second watcher's screen ${what}`, "the first's");
                            }
                            if (b === 3) {
                                // A second watcher, in Chromium, plays the keys so far at once.
                                second = await openPage(context, `${hall.origin}/watch.html?id=${player.id}&pauses=0`, problemsOf, {
                                    viewport: size,
                                    ready: () => window.marrowdeep?.settled,
                                    what: 'the second watcher caught up',
                                });
                                await waitInPage(second, caughtUp, 60, 'the second watcher', upTo);
                                const also = await second.evaluate(shownBy);
                                sameBytes(also.transcript, seen.transcript, 'the second watcher on joining');
                                sameRows(also.rows, seen.rows, "the second watcher's screen on joining", "the first's");
                                await watcher.waitFor(() => window.marrowdeep.watchers === 2, 30, 'two watchers told');
                            }
                            if (b === 5) {
                                // The hall killed: both watchers lose it, join it again once it is back,
                                // and go on from where they were; the player resumes with its token.
                                const marks = problemsOf.map((problems) => problems.length);
                                await hall.kill();
                                await watcher.waitFor(() => window.marrowdeep.said.startsWith('The connection to the hall was lost'), 30, 'the loss told');
                                await startOurHall();
                                await watcher.waitFor(() => window.marrowdeep.joins === 2, 60, 'the watcher joined again');
                                await waitInPage(second, () => window.marrowdeep.joins === 2, 60, 'the second watcher joined again');
                                await watcher.waitFor(caughtUp, 60, 'the watcher after the hall came back', upTo);
                                await player.resume();
                                forgiveHallDown(problemsOf, marks, hall.origin);
                            }
                            if (last) break;
                        }
                        for (const page of [watcher, second]) {
                            const starts = await page.evaluate(() => window.marrowdeep.starts);
                            assert.equal(starts, 1, `a watcher started the game ${starts} times: the join again played it from its start`);
                        }

                        // The end: the record the player got, and its replay.
                        const record = await player.end();
                        await watcher.waitFor(() => window.marrowdeep.end !== '' && window.marrowdeep.ended, 60, 'the end on the watch page');
                        sameBytes(await watcher.evaluate(() => window.marrowdeep.end), endSaid(record), 'the end shown');
                        sameBytes(await watcher.evaluate(() => window.marrowdeep.transcript), whole, 'the watcher at the end');
                        const link = await watcher.evaluate(() => document.querySelector('#watch-end a')?.getAttribute('href'));
                        assert.ok(link?.startsWith('index.html#run='), `the end links to ${link}`);
                        await second.goto('about:blank');
                        await second.goto(`${hall.origin}/${link.replace('index.html#', 'index.html?pauses=0#')}`);
                        await waitInPage(second, replayedToTheEnd, 60, 'the replay of the end link');
                        sameBytes(await second.evaluate(() => window.marrowdeep.transcript), whole, 'the replay of the end link');
                        reported(problemsOf, 'the game followed');
                    } finally {
                        await context.close();
                    }
                },
                { viewport: VIEWPORT },
            ),
        ),
    );

    it(
        "the game's own pauses once caught up, none while keys wait to be played or the tab is hidden",
        scenario(() =>
            watcherBrowser.inFreshPage(
                hall.origin,
                async (watcher) => {
                    const problemsOf = [];
                    const context = await chromium.browser.createBrowserContext();
                    try {
                        // Seed 9's first map: the 25th key brings two pauses and the 26th three more.
                        const start = 'pause\nn\n9\n1\n';
                        const keys = `${start}ddddssssaaaaww`;
                        const sleeps = (n) => (linuxBytes(keys.slice(0, n)).match(/<sleep /g) ?? []).length;
                        const [before, atLast, all] = [sleeps(keys.length - 2), sleeps(keys.length - 1), sleeps(keys.length)];
                        assert.ok(atLast > before && all > atLast, `the keys' pauses are ${before}, ${atLast}, ${all}`);

                        const player = await livePlayer(context, hall.origin, problemsOf, VIEWPORT, { socket: true });
                        await player.start(start);
                        // A watcher in view, with pauses, and one in a tab behind the player's.
                        await watcher.goto(`${hall.origin}/watch.html?id=${player.id}`);
                        await watcher.waitFor(caughtUp, 60, 'the watcher in view', start.length);
                        const behind = await openPage(context, `${hall.origin}/watch.html?id=${player.id}`, problemsOf, {
                            ready: () => window.marrowdeep?.settled,
                            what: 'the watcher behind',
                        });
                        // The rest in one batch: each pause with keys after it is passed over, and
                        // those of the last key are waited for; the hidden tab waits for none.
                        await player.type(keys.slice(start.length));
                        assert.ok(await behind.evaluate(() => document.hidden), "the watcher's tab behind the player's is not hidden");
                        await watcher.waitFor(caughtUp, 60, 'the watcher in view after the batch', keys.length);
                        await waitInPage(behind, caughtUp, 60, 'the watcher behind after the batch', keys.length);
                        const mine = await player.page.evaluate(shownBy);
                        for (const [page, what, want] of [
                            [watcher, 'the watcher in view', all - atLast],
                            [behind, 'the hidden watcher', 0],
                        ]) {
                            const seen = await page.evaluate(() => ({ transcript: window.marrowdeep.transcript, waited: window.marrowdeep.pausesWaited }));
                            sameBytes(seen.transcript, mine.transcript, what);
                            assert.equal(seen.waited, want, `${what} waited for ${seen.waited} pauses`);
                        }
                        await player.end();
                        reported(problemsOf, 'the pauses');
                    } finally {
                        await context.close();
                    }
                },
                { viewport: VIEWPORT },
            ),
        ),
    );

    it(
        'the list shows a live game, its name as text; a watch of no game says so',
        scenario(async () => {
            const problemsOf = [];
            const context = await chromium.browser.createBrowserContext();
            try {
                const player = await livePlayer(context, hall.origin, problemsOf, VIEWPORT);
                await player.start('<b>list</b>\nn\n7\n');
                await player.type('1\n');
                const list = await openPage(context, `${hall.origin}/watch.html`, problemsOf, {
                    ready: () => document.querySelector('#live-games tbody tr') !== null,
                    what: 'the list of live games',
                });
                const rows = await list.evaluate(() =>
                    Array.from(document.querySelectorAll('#live-games tbody tr'), (tr) => ({
                        cells: Array.from(tr.cells, (td) => td.textContent),
                        bold: tr.querySelectorAll('b').length,
                        link: tr.querySelector('a')?.getAttribute('href'),
                    })),
                );
                const game = (await listed(hall.origin)).find((g) => g.id === player.id);
                assert.ok(game, 'the hall does not list the game');
                const mine = rows.find((row) => row.link === `watch.html?id=${player.id}`);
                assert.ok(mine, `the list shows ${JSON.stringify(rows)}`);
                assert.deepEqual(mine.cells.slice(0, 4), ['<b>list</b>', '7', String(game.keys), String(game.watchers)], 'the row of the game');
                assert.equal(mine.bold, 0, 'the name became markup');
                // The game ends: the list, asked again, no longer has it.
                await player.type('q');
                await player.end();
                await list.evaluate(() => window.dispatchEvent(new Event('focus')));
                await waitInPage(list, (link) => !document.querySelector(`#live-games a[href="${link}"]`), 30, 'the list without the ended game', mine.link);

                // A watch of a game the hall does not have: said, and the list shown.
                const none = await openPage(context, `${hall.origin}/watch.html?id=${'0'.repeat(24)}&pauses=0`, problemsOf, {
                    ready: () => window.marrowdeep?.said.startsWith('The hall has no live game') && !document.getElementById('live-list').hidden,
                    what: 'the watch of no game',
                });
                await none.close();
                reported(problemsOf, 'the list');
            } finally {
                await context.close();
            }
        }),
    );

    it(
        "a game on the day's seed reaches its watcher five minutes late",
        scenario(async () => {
            const problemsOf = [];
            const context = await chromium.browser.createBrowserContext();
            try {
                const day = await (await fetch(`${hall.origin}/api/daily`)).json();
                const player = await livePlayer(context, hall.origin, problemsOf, VIEWPORT);
                await player.start(`daily\nn\n${day.seed}\n`);
                const watcher = await openPage(context, `${hall.origin}/watch.html?id=${player.id}&pauses=0`, problemsOf, {
                    viewport: VIEWPORT,
                    ready: () => window.marrowdeep?.keys === 0 && window.marrowdeep.settled,
                    what: 'the watcher of the day',
                });
                const keys = `daily\nn\n${day.seed}\n1\n`;
                await player.type('1\n');
                // The hall holds them and has sent the watcher none.
                const game = (await listed(hall.origin)).find((g) => g.id === player.id);
                assert.equal(game?.delayed, 300, `the day's game is listed as ${JSON.stringify(game)}`);
                assert.equal(game.keys, 0, `the watchers of the day's game have been given ${game.keys} keys`);
                const early = await watcher.evaluate(() => ({ keys: window.marrowdeep.keys, transcript: window.marrowdeep.transcript }));
                assert.equal(early.keys, 0, `the watcher has ${early.keys} keys at once`);
                sameBytes(early.transcript, linuxBytes(''), 'the watcher of the day at once');
                // Five minutes later by the hall's clock, they come.
                setClock(clock, HALL_SECOND + 300);
                await waitInPage(watcher, caughtUp, 60, 'the keys of the day, five minutes late', keys.length);
                sameBytes(await watcher.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'the watcher of the day');
                // The last key and the end, five minutes after they came.
                await player.type('q');
                const record = await player.end();
                setClock(clock, HALL_SECOND + 600);
                await waitInPage(watcher, () => window.marrowdeep.end !== '' && window.marrowdeep.ended, 60, 'the end of the day, late');
                sameBytes(await watcher.evaluate(() => window.marrowdeep.end), endSaid(record), 'the end of the day');
                sameBytes(await watcher.evaluate(() => window.marrowdeep.transcript), linuxBytes(`${keys}q`), 'the day at its end');
                reported(problemsOf, 'the day');
            } finally {
                await context.close();
            }
        }),
    );
});
