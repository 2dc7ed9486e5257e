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
// Each scenario fails through node:assert; a driver's page starts with empty storage.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { MAP_LEGEND, cutAtMap, recordHas, replayedToTheEnd, resumed, sameBytes, sameRows, settled } from './harness.mjs';
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

// Runs in the page: the keys of every record it keeps, the game being played first, then the list's.
export const storedKeys = () => {
    const read = (key) => JSON.parse(localStorage.getItem(key) ?? 'null');
    return [read('marrowdeep.game'), ...(read('marrowdeep.runs') ?? [])].filter((r) => r).map((r) => r.keys);
};

// Opens the page, without pauses, and waits for the name question.
async function openGame(driver, origin) {
    await driver.goto(`${origin}/?pauses=0`);
    await driver.waitFor(() => window.marrowdeep?.reading, 30, 'the name question');
}

export const NAME_QUESTION = 'Please insert your name:';

// The name question on the page's own first screen, its script running and taking keys.
export const questionShown = (question) => window.marrowdeep?.rows()[0] === question;

// Plays `game` ({what, keys, slip, ends}) on a fresh page of `origin` and holds its transcript
// and its screen against the Linux program. The game whose name is typed with a slip is typed
// with the game's code held back by the host (`hold`, the server's), where one is given: the name,
// mended and sent, goes into the page's line before the game has started, and the game reads it
// once the code comes.
export async function playGame(driver, { origin, linuxBytes, hold }, game) {
    const want = linuxBytes(game.keys);
    if (!want.includes('Input Seed:')) throw new Error(`${game.what} takes its seed from the clock`);
    const held = game.slip && hold ? hold('/marrowdeep.wasm') : null;
    if (held) {
        await driver.goto(`${origin}/?pauses=0`);
        await held.arrived;
        await driver.waitFor(questionShown, 30, "the name question before the game's code", NAME_QUESTION);
    } else {
        await openGame(driver, origin);
    }

    let keys = game.keys;
    if (game.slip) {
        // The name's last letter is typed twice and the second erased.
        const end = keys.indexOf('\n');
        await driver.type(keys.slice(0, end) + 'x');
        await driver.press('Backspace');
        // The screen shows the name as mended, right after the question.
        const shows = `${NAME_QUESTION}${keys.slice(0, end)}`;
        assert.ok(await screenShows(driver, shows), `the screen does not show "${shows}"`);
        keys = keys.slice(end);
        if (held) {
            await driver.press('Enter');
            keys = keys.slice(1);
            const early = await driver.evaluate(() => [window.marrowdeep.ready, window.marrowdeep.firstScreen]);
            assert.deepEqual(early, [false, 'pending'], "with the game's code held back, the game is ready, or no longer on the first screen");
            held.release();
            await driver.waitFor(() => window.marrowdeep.ready, 60, 'the game started once its code came');
            const first = await driver.evaluate(() => window.marrowdeep.firstScreen);
            assert.equal(first, 'same', "the game's first output is not the first screen the page showed");
        }
    }
    await driver.type(keys);
    await driver.waitFor(() => window.marrowdeep.reading || window.marrowdeep.ended, 120, 'the end of the keys');

    const got = await driver.evaluate(() => window.marrowdeep.transcript);
    const ended = await driver.evaluate(() => window.marrowdeep.ended);
    sameBytes(got, want, 'the page against the Linux program');
    // The run's record holds the bytes the game read: the keys, the name as mended.
    const recorded = await driver.evaluate(storedKeys);
    assert.ok(recorded.includes(game.keys), `no record of the page's runs holds the game's keys: ${JSON.stringify(recorded.map((k) => k.slice(0, 40)))}`);
    assert.equal(ended, Boolean(game.ends), `the page says the game ${ended ? 'is' : 'is not'} over`);
    if (ended) assert.ok(await screenShows(driver, GAME_OVER), 'the screen does not say the game is over');

    if (game.ends === 'lost' && ended) {
        // The run is in the page's list, told as a hero fallen.
        const told = await driver.evaluate(() => document.querySelector('.run-list .about')?.textContent ?? '');
        assert.ok(told.includes(' fell in a fight '), `the list of runs tells it as "${told}"`);
        // Enter after the end starts a new game, which asks for a name again.
        await driver.press('Enter');
        await driver.waitFor(() => window.marrowdeep.games === 2 && window.marrowdeep.reading, 30, 'a new game');
        const again = await driver.evaluate(() => window.marrowdeep.transcript);
        sameBytes(again, linuxBytes(''), 'the new game after the end');
    }
}

// The rows of the screen, trailing blanks cut, once the page has drawn what it was given.
export const screenRows = (driver) =>
    driver.evaluate(async () => {
        await new Promise((drawn) => requestAnimationFrame(() => requestAnimationFrame(drawn)));
        return window.marrowdeep.rows().map((row) => row.trimEnd());
    });

// Half a game typed, the page reloaded: the screen left and the transcript so far come back, and
// the rest of the keys give the Linux program's bytes.
export async function resumeHalfway(driver, { origin, linuxBytes }, keys) {
    await openGame(driver, origin);
    const cut = cutAtMap(keys, linuxBytes);
    await driver.type(keys.slice(0, cut));
    await driver.waitFor(settled, 120, 'the end of the first half');
    await driver.waitFor(recordHas, 30, 'the record of the first half', cut);
    const before = { rows: await screenRows(driver), transcript: await driver.evaluate(() => window.marrowdeep.transcript) };
    sameBytes(before.transcript, linuxBytes(keys.slice(0, cut)), 'before the reload');

    await driver.reload();
    await driver.waitFor(resumed, 60, 'the resumed game');
    const after = { rows: await screenRows(driver), transcript: await driver.evaluate(() => window.marrowdeep.transcript) };
    sameBytes(after.transcript, before.transcript, 'after the reload');
    sameRows(after.rows, before.rows, 'the screen after the reload', 'the screen left');
    assert.ok(after.rows.some((row) => row.includes(MAP_LEGEND)), 'the resumed screen shows no map');

    await driver.type(keys.slice(cut));
    await driver.waitFor(settled, 120, 'the end of the keys after the reload');
    sameBytes(await driver.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'the whole game');
}

// A game played to its end gives a link; the link, opened afresh, replays at once to the same
// transcript and shows the same screen.
export async function replayLink(driver, { origin, linuxBytes }, keys) {
    const want = linuxBytes(keys);
    await openGame(driver, origin);
    // The last key once the game waits for it, so that its echo comes after all the game wrote
    // before, as in the replay, whatever the speed of the typing.
    await driver.type(keys.slice(0, -1));
    await driver.waitFor(settled, 120, 'the game to link at its last key');
    await driver.type(keys.slice(-1));
    await driver.waitFor(settled, 120, 'the end of the game to link');
    assert.ok(await driver.evaluate(() => window.marrowdeep.ended), 'the game to link did not end');
    sameBytes(await driver.evaluate(() => window.marrowdeep.transcript), want, 'the game played');
    await driver.waitFor(() => window.marrowdeep.link !== null, 30, 'the link of the game');
    const link = await driver.evaluate(() => window.marrowdeep.link);
    assert.ok(link.startsWith(`${origin}/#run=`), `the link is ${link.slice(0, 80)}`);
    const screen = await screenRows(driver);

    // Away from the page first, so that the link loads the page anew rather than only changing
    // the address's hash.
    await driver.goto('about:blank');
    await driver.goto(link.replace('/#', '/?pauses=0#'));
    await driver.waitFor(replayedToTheEnd, 60, 'the replay of the link');
    sameBytes(await driver.evaluate(() => window.marrowdeep.transcript), want, 'the replay');
    sameRows(await screenRows(driver), screen, "the replay's screen", 'the screen of the game played');
}
