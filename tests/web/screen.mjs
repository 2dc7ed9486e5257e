// The page's screen fed random bytes through the game's own way out: the page's console that the
// game writes to, caught as the page hands it to the game's code. Thousands of pieces of seeded
// random bytes, weighted towards escapes and line ends, each shown as the game's output is. The
// screen must hold nothing but its rows and their colour spans (no markup made of the bytes, no
// style in an attribute), after every piece its rows must show what the page's rows() tell, and
// the browser must report nothing; a row written again in another colour must show it. Then the
// rows scrolled away are scrolled back to. And the page without its font and from a first screen
// that is not the game's, and the keyboard's keys as the game reads them. Each scenario fails
// through node:assert.
import assert from 'node:assert/strict';
import { awaitingKey, inContext, openPage, reported, waitInPage } from './harness.mjs';

const PIECES = 3000;

// Runs in the page before its scripts: keeps the console the page gives the game.
function catchConsole() {
    let made;
    Object.defineProperty(window, 'createMarrowdeep', {
        configurable: true,
        get: () =>
            made &&
            ((options) => {
                window.gameConsole = options.page;
                return made(options);
            }),
        set: (value) => {
            made = value;
        },
    });
}

// Runs in the page: writes the pieces, and answers the first fault found, or null.
function feed(seed, pieces) {
    const console = window.gameConsole;
    let state = seed >>> 0;
    const random = () => {
        state = (Math.imul(state, 1103515245) + 12345) >>> 0;
        return state >>> 8;
    };
    const favoured = Array.from('\x1b\x1b[[;;0123456789mHJ?\r\n\b\t \x07]', (c) => c.charCodeAt(0));
    const allowed = (element) => {
        if (element.classList.contains('term-row')) return element.parentElement.classList.contains('term-lines');
        if (element.tagName === 'SPAN') {
            return element.parentElement.classList.contains('term-row') && element.className.split(' ').every((name) => /^(c[0-7]|rev)$/.test(name));
        }
        return ['term', 'term-lines', 'term-cursor', 'term-said'].includes(element.className);
    };
    const terminal = document.getElementById('terminal');
    const lines = terminal.querySelector('.term-lines');
    for (let n = 0; n < pieces; ++n) {
        const piece = new Uint8Array(1 + (random() % 60));
        for (let i = 0; i < piece.length; ++i) piece[i] = random() % 3 ? favoured[random() % favoured.length] : random() % 256;
        console.write(piece);
        // A pause shows what waits, at once, as before any of the game's pauses.
        console.pause(0);
        // The whole screen every hundred pieces and after the last (an element stays until its row
        // leaves the kept rows); the rows in view after every piece.
        const whole = n % 100 === 0 || n === pieces - 1;
        for (const element of whole ? terminal.querySelectorAll('*') : []) {
            if (!allowed(element)) return `piece ${n}: an element <${element.tagName.toLowerCase()} class="${element.className}"> in the screen`;
            if (element.hasAttribute('style') && !['term', 'term-cursor'].includes(element.className)) {
                return `piece ${n}: a style attribute on <${element.tagName.toLowerCase()} class="${element.className}">`;
            }
        }
        const rows = window.marrowdeep.rows();
        const drawn = Array.from(lines.querySelectorAll(':scope > .term-row')).slice(-rows.length).map((row) => row.textContent.trimEnd());
        if (drawn.join('\n') !== rows.join('\n')) return `piece ${n}: the screen shows\n${drawn.join('\n')}\nnot\n${rows.join('\n')}`;
    }
    // A row written again with the same text in another colour shows the new colour, and back.
    const home = '\x1b[H\x1b[2J';
    for (const [text, look] of [[`${home}same`, 'same'], [`${home}\x1b[31msame\x1b[0m`, '<c1>same'], [`${home}same`, 'same']]) {
        console.write(new TextEncoder().encode(text));
        console.pause(0);
        const top = Array.from(lines.querySelectorAll(':scope > .term-row')).at(-window.marrowdeep.rows().length);
        const shown = Array.from(top.childNodes, (node) => (node.nodeType === 1 ? `<${node.className}>` : '') + node.textContent).join('');
        if (shown.trimEnd() !== look) return `written again as ${JSON.stringify(text)}, the top row shows ${JSON.stringify(shown.trimEnd())}`;
    }
    return null;
}

// The rows in view, as the page draws them: those wholly inside the screen's box.
function rowsInView() {
    const screen = document.querySelector('.term').getBoundingClientRect();
    return Array.from(document.querySelectorAll('.term-row'))
        .filter((row) => row.getBoundingClientRect().top >= screen.top - 1 && row.getBoundingClientRect().bottom <= screen.bottom + 1)
        .map((row) => row.textContent.trimEnd());
}

// The screen scrolled back by the wheel shows older rows, and rows() tells them; a key brings the
// newest rows back.
async function scrolledBack(page) {
    const newest = await page.evaluate(() => window.marrowdeep.rows());
    const box = await page.$eval('.term', (screen) => {
        const b = screen.getBoundingClientRect();
        return { x: b.x + b.width / 2, y: b.y + b.height / 2 };
    });
    await page.mouse.move(box.x, box.y);
    await page.mouse.wheel({ deltaY: -2000 });
    // Until the wheel has scrolled, and stopped: the same place in two frames running.
    const stopped = () => {
        const top = document.querySelector('.term').scrollTop;
        const same = window.wheelAt === top;
        window.wheelAt = top;
        return same && top < -200;
    };
    try {
        await page.waitForFunction(stopped, { timeout: 10000, polling: 'raf' });
    } catch {
        assert.fail('the wheel does not scroll the screen back');
    }
    // Then to a whole row's place, and a frame for the scroll to be told.
    await page.evaluate(async () => {
        const screen = document.querySelector('.term');
        const row = document.querySelector('.term-row').getBoundingClientRect().height;
        screen.scrollTop = Math.round(screen.scrollTop / row) * row;
        await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
    });
    const back = await page.evaluate(() => window.marrowdeep.rows());
    const shown = await page.evaluate(rowsInView);
    assert.notEqual(back.join('\n'), newest.join('\n'), 'scrolled back, rows() still tells the newest rows');
    assert.ok(back.join('\n') === shown.join('\n'), `scrolled back, the screen shows\n${shown.join('\n')}\nbut rows() tells\n${back.join('\n')}`);
    await page.keyboard.type('x');
    try {
        await page.waitForFunction(() => document.querySelector('.term').scrollTop > -2, { timeout: 10000, polling: 20 });
    } catch {
        assert.fail('a key does not bring the newest rows back');
    }
    const after = await page.evaluate(() => window.marrowdeep.rows());
    assert.ok(after.join('\n') === (await page.evaluate(rowsInView)).join('\n'), 'after a key, rows() does not tell the rows in view');
}

export async function screenTakesAnyBytes({ browser, origin }) {
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, {
            viewport: { width: 700, height: 600 },
            prepare: (p) => p.evaluateOnNewDocument(catchConsole),
            ready: () => window.marrowdeep?.reading && window.gameConsole,
        });
        const fault = await page.evaluate(feed, 20261208, PIECES);
        assert.equal(fault, null, `random bytes on the screen: ${fault}`);
        await scrolledBack(page);
        reported(problemsOf, 'random bytes on the screen');
    });
}

// The page whose font cannot be had: the screen takes a monospace font of the browser's, still
// fits the window and plays.
export async function screenWithoutItsFont({ browser, origin }) {
    // The page with a first screen that is not the game's, in its rows and in its bytes: the
    // page must draw what the game wrote, and say that the two differed.
    const html = await (await fetch(`${origin}/`)).text();
    const planted = html.replaceAll('Please insert your name:', 'Please insert your NAME:');
    assert.equal(planted.split('NAME:').length, 3, "the page's first screen is not where the test plants a difference");
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const refuseTheFont = async (p) => {
            await p.setRequestInterception(true);
            p.on('request', (request) => {
                if (request.url().endsWith('/marrowdeep-mono.woff2')) request.respond({ status: 404, body: '' });
                else if (request.isNavigationRequest()) request.respond({ status: 200, contentType: 'text/html; charset=utf-8', body: planted });
                else request.continue();
            });
        };
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, {
            viewport: { width: 1280, height: 800 },
            prepare: refuseTheFont,
            what: 'the name question without the font',
        });
        // The row on the page too: the built rows the page kept are drawn again where the game's differ.
        const first = await page.evaluate(() => [
            window.marrowdeep.firstScreen,
            window.marrowdeep.rows()[0],
            document.querySelector('#terminal .term-row').textContent,
        ]);
        assert.deepEqual(
            first,
            ['different', 'Please insert your name:', 'Please insert your name:'],
            "from a first screen not the game's, the page's word and its first row, in the cells and on the page",
        );
        await page.keyboard.type('Font\n');
        try {
            await page.waitForFunction(() => window.marrowdeep.rows()[0] === 'Please insert your name:Font', { timeout: 10000, polling: 20 });
        } catch {
            assert.fail(`without its font, the screen shows ${JSON.stringify(await page.evaluate(() => window.marrowdeep.rows()[0]))}`);
        }
        const fit = await page.evaluate(() => {
            const box = document.getElementById('terminal').getBoundingClientRect();
            return box.width > 0 && box.right <= window.innerWidth && box.bottom <= window.innerHeight && window.marrowdeep.rows().length >= 27;
        });
        assert.ok(fit, 'without its font, the screen does not fit the window');
        const others = problemsOf.flat().filter((p) => !p.includes('marrowdeep-mono.woff2') && !p.includes('404'));
        reported(others, 'without its font');
    });
}

async function withCtrl(page, key) {
    await page.keyboard.down('Control');
    await page.keyboard.press(key);
    await page.keyboard.up('Control');
}

// The keyboard's keys reach the game as a terminal sends them. While the name is typed, Ctrl-U
// erases the line, Ctrl-W a word and Backspace a character; at the map the arrows, Tab, Escape,
// Backspace and Ctrl-D come as their bytes, as the page's record of what the game read tells.
export async function keysAsSent({ browser, origin }) {
    await inContext(browser, async (context) => {
        const problemsOf = [];
        const page = await openPage(context, `${origin}/?pauses=0`, problemsOf, { viewport: { width: 1280, height: 800 } });
        await typeTheKeys(page);
        reported(problemsOf, 'the keys');
    });
}

async function typeTheKeys(page) {
    await page.keyboard.type('xyz');
    await withCtrl(page, 'u');
    await page.keyboard.type('Hero ab');
    await withCtrl(page, 'w');
    await page.keyboard.press('Backspace');
    const name = await page.evaluate(() => window.marrowdeep.rows()[0]);
    assert.equal(name, 'Please insert your name:Hero', `the name mended by Ctrl-U, Ctrl-W and Backspace shows as "${name}"`);
    await page.keyboard.type('\nn\n1\n1\n');
    await waitInPage(page, awaitingKey, 30, 'the map');
    for (const key of ['ArrowUp', 'ArrowLeft', 'Tab', 'Escape', 'Backspace']) {
        await page.keyboard.press(key);
        await waitInPage(page, awaitingKey, 30, `the map after ${key}`);
    }
    await withCtrl(page, 'd');
    await waitInPage(page, awaitingKey, 30, 'the map after Ctrl-D');
    const read = await page.evaluate(() => JSON.parse(localStorage.getItem('marrowdeep.game'))?.keys ?? null);
    const want = 'Hero\nn\n1\n1\n\x1b[A\x1b[D\t\x1b\x7f\x04';
    assert.equal(read, want, `the keys reached the game as ${JSON.stringify(read)}, not ${JSON.stringify(want)}`);
}
