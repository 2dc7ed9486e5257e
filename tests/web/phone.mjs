// The page on a phone and in windows of every size: a game played by taps alone, the screens
// whole at five sizes and after a turn of the phone, and the screen reader switch. Each scenario
// takes the browser, the page's origin and `linuxBytes(keys)` (what the Linux program writes for
// the keys, clears and pauses marked), and fails through node:assert.
import assert from 'node:assert/strict';
import { accessible } from './axe.mjs';
import { NAME_QUESTION, storedKeys } from './games.mjs';
import { awaitingKey, openPage, reported, sameBytes, waitInPage } from './harness.mjs';

export const PHONE = { width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 2 };
const SIDEWAYS = { ...PHONE, width: 844, height: 390, isLandscape: true };
export const SIZES = [
    { what: 'a 360 x 640 phone', viewport: { ...PHONE, width: 360, height: 640 } },
    { what: 'a 390 x 844 phone', viewport: PHONE, turns: true },
    { what: 'a 844 x 390 phone held sideways', viewport: SIDEWAYS, unwrapped: true },
    { what: 'a 1280 x 800 window', viewport: { width: 1280, height: 800 }, unwrapped: true, asBefore: true },
    { what: 'a 700 x 800 window', viewport: { width: 700, height: 800 }, unwrapped: true },
];
const READABLE_FONT = 9; // at 390 px wide; 72 columns fit 360 px only below it
const TOUCH_TARGET = 44;

// The shortest beginning of `keys` with which the Linux program has written every one of `texts`.
export function cutAt(linuxBytes, keys, ...texts) {
    const has = (bytes) => texts.every((text) => bytes.includes(text));
    if (!has(linuxBytes(keys))) throw new Error(`these keys never show ${texts.join(', ')}`);
    let low = 0;
    let high = keys.length;
    while (low < high) {
        const middle = (low + high) >> 1;
        if (has(linuxBytes(keys.slice(0, middle)))) high = middle;
        else low = middle + 1;
    }
    return keys.slice(0, low);
}

// The lines of the last screen the Linux program shows: what it wrote after its last clear,
// without colours, trailing blanks cut.
function lastScreen(bytes) {
    const text = bytes.slice(bytes.lastIndexOf('<clear>') + '<clear>'.length);
    const lines = text
        .replace(/<sleep \d+>/g, '')
        .replace(/\x1b\[[0-9;]*m/g, '')
        .split('\n')
        .map((line) => line.trimEnd());
    if (lines[lines.length - 1] === '') lines.pop();
    return lines;
}

// Whether the rows in view show `lines` one after another, each whole on a row of its own. A
// screen taller than the terminal shows its last lines, above the row the cursor waits on.
function showsWhole(rows, lines) {
    const tail = lines.slice(-Math.min(lines.length, rows.length - 1));
    for (let at = 0; at + tail.length <= rows.length; ++at) {
        if (tail.every((line, i) => rows[at + i] === line)) return true;
    }
    return false;
}

// The game's script and its code, which the page's first screen and its keys do not wait for.
const GAME_FILES = ['/marrowdeep.js', '/marrowdeep.wasm'];

// Holds back the page's requests for the game's script and code in the browser, from the page's
// load on, until release(): answers {arrived (a promise of the code's request), release}.
async function holdTheCode(page) {
    let arrive;
    let release;
    const arrived = new Promise((resolve) => (arrive = resolve));
    const released = new Promise((resolve) => (release = resolve));
    await page.setRequestInterception(true);
    page.on('request', (request) => {
        const file = new URL(request.url()).pathname;
        if (!GAME_FILES.includes(file)) {
            request.continue();
            return;
        }
        if (file === '/marrowdeep.wasm') arrive();
        // A page closed meanwhile has no request left to go on with.
        released.then(() => request.continue().catch(() => {}));
    });
    return { arrived, release };
}

// The page at `viewport` in a browser context of its own: {page, problems, close}. With `held`,
// the game's script and code are held back (holdTheCode) and the page is waited for only until its own
// first screen shows the name question and its script runs: then also {arrived, release}.
async function open(browser, origin, viewport, { held = false } = {}) {
    const context = await browser.createBrowserContext();
    const problemsOf = [];
    let code = null;
    const options = { viewport };
    if (held) {
        options.prepare = async (page) => {
            code = await holdTheCode(page);
        };
        options.ready = () => window.marrowdeep?.rows()[0] === 'Please insert your name:';
        options.what = "the name question before the game's code";
        options.whileLoading = true;
    }
    const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, options);
    return { page, problems: problemsOf[0], close: () => context.close(), ...code };
}

// With the game's script and code held back (open's `held`): the name typed with a slip mended by
// `erase()` and sent by `enter()`, the echo shown and the game not started; then the code
// released, and the game started on the page's first screen.
async function nameWhileHeld(page, { arrived, release }, name, { type, erase, enter }) {
    await arrived;
    await type(name + 'x');
    await erase();
    const echo = `${NAME_QUESTION}${name}`;
    await waitInPage(page, (e) => window.marrowdeep.rows()[0].trimEnd() === e, 10, `the echo "${echo}" before the game's code`, echo);
    const before = await page.evaluate(() => [window.marrowdeep.ready, window.marrowdeep.firstScreen]);
    assert.deepEqual(before, [false, 'pending'], "with the game's code held back, the game's readiness and its first screen");
    await enter();
    assert.equal(await page.evaluate(() => window.marrowdeep.ready), false, "the game is ready with its code held back");
    release();
    await waitInPage(page, () => window.marrowdeep.ready, 60, 'the game started once its code came');
    assert.equal(await page.evaluate(() => window.marrowdeep.firstScreen), 'same', "the game's first output is not the page's first screen");
}

// The page's transcript and record of the game against the Linux program's bytes for `keys`.
async function sameGame(page, keys, want, what) {
    sameBytes(await page.evaluate(() => window.marrowdeep.transcript), want, what);
    const recorded = await page.evaluate(storedKeys);
    assert.equal(recorded[0], keys, `${what}: the record of the game is not the keys typed`);
}

// Types `keys` on the keyboard and checks that the last screen shows whole.
async function typeAndLook(page, keys, want, what) {
    await page.keyboard.type(keys);
    await waitInPage(page, awaitingKey, 60, what);
    const rows = await page.evaluate(() => window.marrowdeep.rows().map((row) => row.trimEnd()));
    const whole = showsWhole(rows, lastScreen(want));
    assert.ok(whole, `${what}: the screen's lines are not whole rows in view; the rows are\n    ${rows.join('\n    ')}`);
}

// Where the page's parts are, in CSS px.
function measure() {
    const box = (element) => {
        const b = element.getBoundingClientRect();
        return { left: b.left, right: b.right, top: b.top, bottom: b.bottom, width: b.width, height: b.height };
    };
    const panel = document.getElementById('touch-keys');
    return {
        width: window.innerWidth,
        height: window.innerHeight,
        pageWidth: document.documentElement.scrollWidth,
        terminal: box(document.getElementById('terminal')),
        panel: panel.hidden ? null : box(panel),
        keys: Array.from(document.querySelectorAll('button[data-key]'), (b) => ({ key: b.dataset.key, ...box(b) })),
        fontSize: window.marrowdeep.fontSize,
        rows: window.marrowdeep.rows().length,
    };
}

// What is wrong with the layout `m` at a size: anything wider than the window, the terminal out
// of it or out of view, the touch keys shown when they should not be or the other way round, a
// key too small; in portrait a small font, or the keys out of view.
function layoutFaults(m, portrait, keysShown) {
    const faults = [];
    if (m.pageWidth > m.width) faults.push(`the page is ${m.pageWidth} px wide in a ${m.width} px window`);
    if (m.terminal.left < 0 || m.terminal.right > m.width || m.terminal.top < 0 || m.terminal.bottom > m.height) {
        const t = m.terminal;
        faults.push(`the terminal spans ${t.left}..${t.right} x ${t.top}..${t.bottom} px of a ${m.width} x ${m.height} window`);
    }
    if (keysShown !== Boolean(m.panel)) faults.push(`the touch keys ${m.panel ? 'show' : 'do not show'}`);
    if (portrait && m.width >= PHONE.width && m.fontSize < READABLE_FONT) faults.push(`the font is ${m.fontSize} px`);
    if (portrait && m.panel && m.panel.bottom > m.height) faults.push(`the touch keys end at ${m.panel.bottom} px of ${m.height}`);
    for (const key of m.panel ? m.keys : []) {
        if (key.width < TOUCH_TARGET || key.height < TOUCH_TARGET) faults.push(`the key ${key.key} is ${key.width} x ${key.height} px`);
    }
    return faults;
}

// Waits until the terminal has fitted itself into the window, with the touch keys in view where
// they show; answers whether it did.
async function fitted(page) {
    const inside = () => {
        const terminal = document.getElementById('terminal').getBoundingClientRect();
        const keys = document.getElementById('touch-keys');
        const keysInView = keys.hidden || keys.getBoundingClientRect().bottom <= window.innerHeight;
        return terminal.right <= window.innerWidth && terminal.bottom <= window.innerHeight && keysInView;
    };
    try {
        await page.waitForFunction(inside, { timeout: 10000, polling: 20 });
        return true;
    } catch {
        return false;
    }
}

// The screens of the saved game at a size of SIZES: the map, a fight, and where no line may wrap,
// the tier's rules and the scroll list too; on the phone, the map again after the phone turned
// sideways and back; with the touch keys shown, on a phone at once and in a window by the button.
export async function layoutAt(size, { browser, origin, linuxBytes, savedGame }) {
    const toMap = mapOf(savedGame);
    const screens = [
        ['the tier\'s rules', cutAt(linuxBytes, savedGame, 'Press Any Key to Continue'), true],
        ['a fight', cutAt(linuxBytes, savedGame, 'Press k to attack'), false],
        ['the scroll list', cutAt(linuxBytes, savedGame, 'Enter the scrolls you wish to use'), true],
    ];
    const { what, viewport, turns, unwrapped, asBefore } = size;
    const opened = await open(browser, origin, viewport, { held: true });
    const { page, problems, close } = opened;
    try {
        const touch = Boolean(viewport.hasTouch);
        const portrait = viewport.height > viewport.width;
        const faults = (list, when) => assert.deepEqual(list, [], `${when}: ${list.join('; ')}`);

        // The name typed while the game's code is held back, then the rest to the map.
        const name = toMap.slice(0, toMap.indexOf('\n'));
        await nameWhileHeld(page, opened, name, {
            type: (keys) => page.keyboard.type(keys),
            erase: () => page.keyboard.press('Backspace'),
            enter: () => page.keyboard.press('Enter'),
        });
        await typeAndLook(page, toMap.slice(name.length + 1), linuxBytes(toMap), 'the map');
        const m = await page.evaluate(measure);
        faults(layoutFaults(m, portrait, touch), 'the map');
        // A desktop window as large as this has the terminal the page always had, and axe-core
        // finds nothing serious on its map or its fight.
        if (asBefore) assert.ok(m.fontSize === 15 && m.rows === 40, `the terminal has ${m.rows} rows at ${m.fontSize} px, not 40 at 15`);
        // Boxes of every size are fitted as measured, where a CSS pixel is one of the screen's and
        // where it is two.
        if (turns || asBefore) fittedAsTried(await page.evaluate(fitAgainstEverySize));
        if (asBefore) await accessible(page, 'the map');
        if (turns) {
            for (const [turned, turnedTo] of [['sideways', SIDEWAYS], ['back', viewport]]) {
                await page.setViewport(turnedTo);
                assert.ok(await fitted(page), `the terminal does not fit the phone turned ${turned}`);
                const rows = await page.evaluate(() => window.marrowdeep.rows().map((row) => row.trimEnd()));
                assert.ok(showsWhole(rows, lastScreen(linuxBytes(toMap))), `the map is not whole after the phone turned ${turned}`);
            }
        }
        if (!touch) {
            await page.click('#keys-toggle');
            assert.ok(await fitted(page), 'the terminal does not fit beside the touch keys');
            faults(layoutFaults(await page.evaluate(measure), portrait, true), 'with the touch keys on');
        }
        let typed = toMap;
        for (const [screen, keys, wide] of screens) {
            if (wide && !unwrapped) continue;
            await typeAndLook(page, keys.slice(typed.length), linuxBytes(keys), screen);
            if (asBefore && screen === 'a fight') await accessible(page, 'a fight');
            typed = keys;
        }
        await sameGame(page, typed, linuxBytes(typed), what);
        reported(problems, what);
    } finally {
        await close();
    }
}

// In the page, with its font come: where the page's size for a terminal box
// (window.marrowdeep.sizeFor) is not the one found by trying every font size from the usual 15 px
// down in steps of 0.25 px, each measured here afresh in the page's font, for boxes a pixel and a
// half pixel apart across each way and on a grid over both. The largest size whose 100 columns
// fit the width; under 9 px, the most columns down to 72 that fit at 9 px, and the largest size
// for them; then the largest size, no larger, whose 27 rows fit the height; and the rows that fit
// it, from 27 to 40. Answers the first mismatches, how many boxes were tried, and how many
// font sizes, column counts and row counts came up, so that a sweep that tried little shows.
async function fitAgainstEverySize() {
    const FAMILY = '"Marrowdeep Mono", monospace';
    await document.fonts.load(`15px ${FAMILY}`);
    const ratio = window.devicePixelRatio || 1;
    const context = document.createElement('canvas').getContext('2d');
    const cells = new Map();
    const cellAt = (size) => {
        if (!cells.has(size)) {
            context.font = `${size}px ${FAMILY}`;
            const m = context.measureText('W');
            const tall = Math.ceil((m.fontBoundingBoxAscent + m.fontBoundingBoxDescent || size * 1.2) * ratio);
            cells.set(size, {
                width: (columns) => Math.round(m.width * columns),
                height: (rows) => Math.round((tall * rows) / ratio),
                rowsIn: (space) => Math.floor((space * ratio) / tall),
            });
        }
        return cells.get(size);
    };
    const steps = [];
    for (let size = 15; size > 6; size -= 0.25) steps.push(size);
    const largest = (top, fits) => steps.find((size) => size <= top && fits(cellAt(size))) ?? 6;
    const expected = ({ width, height }) => {
        let columns = 100;
        let fontSize = largest(15, (c) => c.width(columns) <= width);
        if (fontSize < 9) {
            while (columns > 72 && cellAt(9).width(columns) > width) columns -= 1;
            fontSize = largest(15, (c) => c.width(columns) <= width);
        }
        fontSize = largest(fontSize, (c) => c.height(27) <= height);
        return { fontSize, columns, rows: Math.min(40, Math.max(27, cellAt(fontSize).rowsIn(height))) };
    };
    const boxes = [];
    for (let at = 100; at <= 1600; at += 0.5) boxes.push({ width: at, height: 5000 }, { width: 5000, height: at });
    for (let width = 100; width <= 1600; width += 20) for (let height = 100; height <= 1200; height += 20) boxes.push({ width, height });
    const mismatches = [];
    const seen = { fontSizes: new Set(), columns: new Set(), rows: new Set() };
    for (const box of boxes) {
        const got = window.marrowdeep.sizeFor(box);
        const want = expected(box);
        seen.fontSizes.add(want.fontSize);
        seen.columns.add(want.columns);
        seen.rows.add(want.rows);
        if (got.fontSize !== want.fontSize || got.columns !== want.columns || got.rows !== want.rows) {
            if (mismatches.length < 5) mismatches.push(`${box.width} x ${box.height}: ${JSON.stringify(got)}, not ${JSON.stringify(want)}`);
        }
    }
    return { mismatches, boxes: boxes.length, fontSizes: seen.fontSizes.size, columns: seen.columns.size, rows: seen.rows.size };
}

// The terminal's font size, columns and rows for boxes of every size (fitAgainstEverySize) on
// the page of `origin` opened by `driver` (drivers.mjs), in any engine.
export async function fitsEverySpace(driver, { origin }) {
    await driver.goto(`${origin}/?pauses=0`);
    await driver.waitFor(() => window.marrowdeep?.reading, 30, 'the name question');
    fittedAsTried(await driver.evaluate(fitAgainstEverySize));
}

function fittedAsTried(found) {
    assert.deepEqual(found.mismatches, [], `the terminal's size differs from the largest that fits: ${found.mismatches.join('; ')}`);
    // Every column count from 72 to 100 and every row count from 27 to 40 came up, and many font
    // sizes: all 37 steps from 6 to 15 px where the browser measures each (WebKit measures a few
    // steps alike, and only the largest of them is ever fitted).
    const tried = `the sizes tried in ${found.boxes} boxes`;
    assert.deepEqual([found.columns, found.rows], [29, 14], tried);
    assert.ok(found.fontSizes >= 16, `${tried}: ${found.fontSizes} font sizes`);
}

// A game played on a phone by taps alone: the name in the line field, with a slip mended by the
// panel's Backspace, every other key a tap on the panel. It must write the Linux program's bytes.
export async function tapsAlone({ browser, origin, linuxBytes, typeableStream }) {
    const keys = cutAt(linuxBytes, tappable(typeableStream(18)), 'YOU WIN!', 'YOUR WEAPON:');
    const want = linuxBytes(keys);
    for (const text of ['Input Seed:', 'YOU WIN!', 'YOUR WEAPON:']) {
        assert.ok(want.includes(text), `the game played by taps never shows "${text}"`);
    }
    const opened = await open(browser, origin, PHONE, { held: true });
    const { page, problems, close } = opened;
    try {
        await tapTheGame(page, keys, want, opened);
        // It ends on the status screen, which axe-core holds to its rules with the touch keys.
        await accessible(page, 'the status screen on a phone');
        reported(problems, 'the game played by taps');
    } finally {
        await close();
    }
}

// The game's code is held back (open's `held`) while the name is typed in the field.
async function tapTheGame(page, keys, want, held) {
    const name = keys.slice(0, keys.indexOf('\n'));
    await page.tap('input[data-line]');
    await nameWhileHeld(page, held, name, {
        type: (text) => page.type('input[data-line]', text),
        erase: () => page.tap('button[data-key="Backspace"]'),
        enter: () => page.keyboard.press('Enter'),
    });
    const fieldGone = () => window.marrowdeep.reading && !document.querySelector('input[data-line]').offsetParent;
    await waitInPage(page, fieldGone, 30, 'the seed question');
    // Where each key is, once the page has settled without the field (a frame for the terminal to
    // fit again, and one more).
    await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
    const at = await page.evaluate(() => {
        const middle = (b) => [b.getBoundingClientRect().x + b.offsetWidth / 2, b.getBoundingClientRect().y + b.offsetHeight / 2];
        return Object.fromEntries(Array.from(document.querySelectorAll('button[data-key]'), (b) => [b.dataset.key, middle(b)]));
    });
    for (const key of keys.slice(name.length + 1)) await page.touchscreen.tap(...at[key === '\n' ? 'Enter' : key]);
    // A tap's click follows its touch, so the game may still be on its way to the bytes it wrote last.
    try {
        const done = (size) => window.marrowdeep.transcript.length >= size && (window.marrowdeep.reading || window.marrowdeep.ended);
        await page.waitForFunction(done, { timeout: 60000, polling: 20 }, want.length);
    } catch {
        // the transcripts differ, as told below
    }
    await sameGame(page, keys, want, 'the game played by taps');
    const focused = await page.evaluate(() => document.activeElement.getAttribute('inputmode') ?? document.activeElement.tagName);
    assert.equal(focused, 'none', `after the taps the focus is on ${focused}, which would raise the phone's keyboard`);
}

// The names in the page's accessibility tree, each with its blanks run together.
async function accessibleText(page) {
    const names = [];
    const walk = (node) => {
        if (node.name) names.push(node.name.replace(/\s+/g, ' ').trim());
        for (const child of node.children ?? []) walk(child);
    };
    walk(await page.accessibility.snapshot({ interestingOnly: false }));
    return names;
}

// The screen reader switch. The terminal's text is in the page's accessibility tree whether the
// switch is on or off. Off, nothing is read out; on, a step of the hero reads out just the rows of
// the map it changed, as the Linux program's screens before and after the step tell; and the switch
// is still on when the page is opened again.
export async function screenReader({ browser, origin, linuxBytes, savedGame }) {
    const toMap = mapOf(savedGame);
    const collapse = (l) => l.replace(/\s+/g, ' ').trim();
    const line = collapse(lastScreen(linuxBytes(toMap)).find((l) => l.includes('Seed:')));
    const inTree = async (page) => (await accessibleText(page)).some((name) => name.includes(line));
    const readOut = (page) => page.$eval('.term-said', (region) => region.textContent);
    let keys = toMap;
    // Takes a step that changes the map, and answers the rows it changed and what was read out.
    const step = async (page) => {
        const before = lastScreen(linuxBytes(keys));
        const key = Array.from('dsaw').find((k) => lastScreen(linuxBytes(keys + k)).join('\n') !== before.join('\n'));
        const after = lastScreen(linuxBytes(keys + key));
        keys += key;
        await page.$eval('.term-said', (region) => region.replaceChildren());
        await page.keyboard.type(key);
        await waitInPage(page, awaitingKey, 30, 'the map after a step');
        const said = await readOut(page);
        return { changed: after.filter((l, i) => l !== before[i] && collapse(l)).map(collapse).join('\n'), said };
    };
    const check = (what, { changed, said }) => {
        const lines = (text) => text.split('\n').join('\n    ');
        assert.equal(said, changed, `${what}, a step reads out\n    ${lines(said)}\n  not the rows it changed\n    ${lines(changed)}`);
    };

    const { page, problems, close } = await open(browser, origin, { width: 1280, height: 800 });
    try {
        const polite = await page.$eval('.term-said', (region) => region.getAttribute('aria-live') === 'polite');
        assert.ok(polite, 'what is read out is not in a polite live region');
        await page.keyboard.type(toMap);
        await waitInPage(page, awaitingKey, 30, 'the map');
        assert.ok(await inTree(page), `with the screen reader switch off, "${line}" is not in the accessibility tree`);
        const quiet = await step(page);
        assert.equal(quiet.said, '', `with the screen reader switch off, a step reads out "${quiet.said}"`);
        await page.click('#screen-reader');
        check('with the screen reader switch on', await step(page));

        // The page opened again plays the game on from where it was.
        await page.reload();
        await waitInPage(page, awaitingKey, 30, 'the map again');
        assert.ok(await page.$eval('#screen-reader', (box) => box.checked), 'the screen reader switch is not remembered');
        assert.ok(await inTree(page), `the page opened again does not put "${line}" in the accessibility tree`);
        check('after a reload', await step(page));
        reported(problems, 'the screen reader switch');
    } finally {
        await close();
    }
}

// The keys a player can tap: the first line (the name, typed in the line field) as it is, then
// only the keys the panel has.
function tappable(keys) {
    const name = keys.indexOf('\n') + 1;
    return keys.slice(0, name) + Array.from(keys.slice(name)).filter((key) => PANEL_KEYS.includes(key)).join('');
}
const PANEL_KEYS = 'wasdkKbpqxyn0123456789-\n';

// The saved game's name, seed and build: its keys up to the first map.
const mapOf = (savedGame) => savedGame.split('\n', 4).join('\n') + '\n';
