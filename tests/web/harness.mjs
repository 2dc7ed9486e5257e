// What every browser test of the page shares: the command line its entry scripts take, the
// browsers started (headless Chromium and Firefox through puppeteer-core, WebKitGTK's MiniBrowser
// through WebKitWebDriver), a page opened and waited for, keys typed, the game settled, the Linux
// program's bytes for the same keys, and the comparison of two transcripts that says where they
// part. The scenarios themselves run on node:test and fail through node:assert.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before } from 'node:test';
import { parseArgs } from 'node:util';
import puppeteer from 'puppeteer-core';
import { serve, waitInPage, watch } from './browser.mjs';
import { puppeteerDriver, webdriverDriver } from './drivers.mjs';
import { webkitSession } from './webdriver.mjs';

export { serve, waitInPage, watch } from './browser.mjs';

// The map's last line: a screen that shows it is the map, waiting for a step.
export const MAP_LEGEND = 'wasd and q to exit';

// Every option an entry script takes; each names those it cannot do without.
const OPTIONS = {
    page: { type: 'string' }, // the page's folder, as served
    program: { type: 'string' }, // the Linux program the page is held against
    marks: { type: 'string' }, // the marks library (clears and pauses written as marks)
    fuzz: { type: 'string' }, // the fuzz driver, which makes the generated games
    regressions: { type: 'string' }, // the folder of saved games
    hall: { type: 'string' }, // the marrowdeep-hall program
    engine: { type: 'string' }, // chromium, firefox or webkit
    chromium: { type: 'string', default: '/usr/bin/chromium' },
    firefox: { type: 'string', default: '/usr/bin/firefox-esr' },
    'webkit-driver': { type: 'string', default: '/usr/bin/WebKitWebDriver' },
    minibrowser: { type: 'string', default: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser' },
    columns: { type: 'string', default: '100' }, // the width of tmux's pane
    'every-key': { type: 'boolean', default: false }, // the watcher held to the player after each key
};

// The options of the command line, all of `required` given.
export function commandLine(required, args = process.argv.slice(2)) {
    const { values } = parseArgs({ args, options: OPTIONS });
    for (const name of required) {
        if (!values[name]) throw new Error(`--${name} is missing`);
    }
    if (values.engine !== undefined && !ENGINES.includes(values.engine)) {
        throw new Error(`no engine ${values.engine}: ${ENGINES.join(', ')}`);
    }
    return values;
}

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
        if (!fuzz) throw new Error('--fuzz is missing');
        const run = spawnSync(fuzz, ['--first', String(number), '--streams', '1', '--print'], { maxBuffer: 1 << 26 });
        if (run.status !== 0) throw new Error(`the fuzz driver could not make stream ${number}`);
        return typeable(run.stdout.toString('latin1'));
    }
    return { linuxBytes, typeableStream };
}

// Only the keys a player types on the page's keyboard: printable characters and Enter.
export const typeable = (keys) =>
    Array.from(keys)
        .filter((c) => c === '\n' || (c >= ' ' && c <= '~'))
        .join('');

// A cut of `keys` past their middle where the game shows the map it drew after a clear, waiting
// for a key: what a terminal shows there does not hang on when the echo of a key came.
export function cutAtMap(keys, linuxBytes, second) {
    for (let k = keys.length >> 1; k < keys.length; ++k) {
        const out = linuxBytes(keys.slice(0, k), second);
        const screen = out.slice(out.lastIndexOf('<clear>'));
        if (screen.includes(MAP_LEGEND) && !screen.includes('<sleep')) return k;
    }
    throw new Error('these keys never stop on the map past their middle');
}

function printable(s) {
    return JSON.stringify(s).slice(1, -1);
}

// Where two transcripts part, with some of each around it.
export function difference(got, want) {
    let at = 0;
    while (at < got.length && at < want.length && got[at] === want[at]) ++at;
    return (
        `got ${got.length} bytes, want ${want.length}; they part at byte ${at}\n` +
        `  got:  ...${printable(got.slice(Math.max(0, at - 120), at + 120))}\n` +
        `  want: ...${printable(want.slice(Math.max(0, at - 120), at + 120))}`
    );
}

// Fails, telling where they part, unless `got` is `want` byte for byte.
export function sameBytes(got, want, what) {
    if (got !== want) assert.fail(`${what}: ${difference(got, want)}`);
}

// Fails unless the rows `got` (`what`) are the rows `want` (`wanted`), showing both.
export function sameRows(got, want, what, wanted) {
    const shown = (rows) => rows.join('\n  ');
    assert.deepEqual(got, want, `${what} is\n  ${shown(got)}\nnot ${wanted}\n  ${shown(want)}`);
}

// While a test has the hall down, the player's page may ask it for its watchers' count (GET
// /api/live, every 5 s while its game is live, and it may not yet have seen its socket close):
// that request fails, and the browser's console says the connection was refused, as it must. Each
// page's problems since `marks` (their counts when the hall went down) lose these two, and only
// these.
export function forgiveHallDown(problemsOf, marks, origin) {
    const expected = new Set([`failed request: ${origin}/api/live`, 'console error: Failed to load resource: net::ERR_CONNECTION_REFUSED']);
    problemsOf.forEach((problems, i) => {
        const since = marks[i] ?? 0;
        problems.splice(since, Infinity, ...problems.slice(since).filter((problem) => !expected.has(problem)));
    });
}

// Fails unless the browser reported nothing: `problems`, a list of what watch() collected, or a
// list of such lists (one for each page of a scenario).
export function reported(problems, what) {
    const all = problems.flat(Infinity);
    assert.deepEqual(all, [], `${what}: the browser reported\n  ${all.join('\n  ')}`);
}

// The game waits for a key or has ended, no replay runs, and the page has shown all it wrote.
export const settled = () =>
    (window.marrowdeep.reading || window.marrowdeep.ended) && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;

// The game waits for a key (it has not ended) and the page has shown all it wrote.
export const awaitingKey = () => window.marrowdeep.reading && window.marrowdeep.writing === 0;

// The game opened again waits for a key, its keys played again and all they wrote shown.
export const resumed = () => window.marrowdeep?.reading && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;

// A replay has played to the game's end, and the page has shown all it wrote.
export const replayedToTheEnd = () => window.marrowdeep?.ended && !window.marrowdeep.replaying && window.marrowdeep.writing === 0;

// The stored unfinished game holds `n` keys.
export const recordHas = (n) => JSON.parse(localStorage.getItem('marrowdeep.game'))?.keys.length === n;

// A new tab of `context` (a browser context, or the browser itself for its own profile) at
// `url`, watched from before its load (what the browser reports goes to `problemsOf`), waited
// for until `ready` answers true in it. Options: `viewport`; `prepare(page)`, run before the
// load (scripts for the new document, requests intercepted); `acceptDialogs`, to answer every
// question the page asks yes; `what` the page waited for is called in a failure; `whileLoading`,
// to wait for `ready` alone, not for the page's load (which files held back keep from ending).
export async function openPage(
    context,
    url,
    problemsOf,
    { ready = () => window.marrowdeep?.reading, what = 'the name question', viewport, prepare, acceptDialogs, whileLoading } = {},
) {
    const page = await context.newPage();
    if (viewport) await page.setViewport(viewport);
    problemsOf.push(await watch(page, new URL(url).origin));
    if (acceptDialogs) page.on('dialog', (dialog) => dialog.accept());
    if (prepare) await prepare(page);
    const loaded = page.goto(url);
    // A load that fails shows as the page not getting to `ready`.
    if (whileLoading) loaded.catch(() => {});
    else await loaded;
    await waitInPage(page, ready, 30, what);
    return page;
}

// Hands `text` to the terminal as a paste of it.
export const paste = (page, text) =>
    page.$eval(
        '.term',
        (screen, t) => {
            const data = new DataTransfer();
            data.setData('text/plain', t);
            screen.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
        },
        text,
    );

// Types `keys` and waits until the game has taken them all and settled (and, with `total`, until
// the stored record has `total` keys). The keys between two line ends go in as one piece, pasted,
// and each line end as Enter: what the game reads is the same, and a long game is typed in a
// moment.
export async function typeKeys(page, keys, what, total) {
    await page.bringToFront();
    for (const [i, piece] of keys.split('\n').entries()) {
        if (i > 0) await page.keyboard.press('Enter');
        if (piece) await paste(page, piece);
    }
    await waitInPage(page, settled, 120, `the end of the keys of ${what}`);
    if (total !== undefined) await waitInPage(page, recordHas, 30, `the record of ${what}`, total);
}

// Headless Chromium with a profile of its own, thrown away with it, and nothing of its own on
// the network. As root it runs without its sandbox, which needs a user namespace.
export async function launchChromium(executablePath) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-browser-'));
    const browser = await puppeteer.launch({
        executablePath,
        headless: true,
        userDataDir: profile,
        args: [
            '--no-sandbox',
            '--disable-gpu',
            '--disable-dev-shm-usage',
            '--disable-background-networking',
            '--disable-component-update',
            '--disable-sync',
            '--no-first-run',
            '--no-default-browser-check',
        ],
    });
    return {
        browser,
        close: async () => {
            await browser.close();
            fs.rmSync(profile, { recursive: true, force: true });
        },
    };
}

// Headless Firefox over WebDriver BiDi, with a throwaway profile like Chromium's; puppeteer's
// own preferences already keep it off the network, and these keep off what they leave on.
export async function launchFirefox(executablePath) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-firefox-'));
    const browser = await puppeteer.launch({
        browser: 'firefox',
        executablePath,
        headless: true,
        userDataDir: profile,
        extraPrefsFirefox: {
            'network.captive-portal-service.enabled': false,
            'network.connectivity-service.enabled': false,
            'browser.safebrowsing.update.enabled': false,
            'app.normandy.enabled': false,
        },
    });
    return {
        browser,
        close: async () => {
            await browser.close();
            fs.rmSync(profile, { recursive: true, force: true });
        },
    };
}

export const ENGINES = ['chromium', 'firefox', 'webkit'];

// An error that tells what `error` told and `note` after it.
function noted(error, note) {
    return new Error(`${error?.message ?? error}\n${note}`, { cause: error });
}

// Starts `engine`'s browser with the paths of the command line `opt`. Answers {engine, browser
// (puppeteer's, none for WebKit), inFreshPage, close}.
//
// inFreshPage(origin, play, {viewport}) runs `play(driver)` (drivers.mjs) on a page whose storage
// starts empty: in Chromium and Firefox a browser context of its own, in WebKit a session of its
// own (an automated MiniBrowser keeps nothing between sessions, and its window is 1280x800). It
// fails if `play` does or, where the browser is watched, if the browser reported anything; a
// scenario that fails in WebKit leaves a picture of the window behind, named in the failure.
export async function startBrowser(engine, opt) {
    if (engine === 'webkit') {
        let pictures = 0;
        return {
            engine,
            browser: null,
            async inFreshPage(origin, play) {
                const session = await webkitSession({ driver: opt['webkit-driver'], browser: opt.minibrowser });
                try {
                    await play(webdriverDriver(session));
                } catch (error) {
                    const picture = path.join(os.tmpdir(), `marrowdeep-webkit-${process.pid}-${pictures++}.png`);
                    fs.writeFileSync(picture, await session.screenshot());
                    throw noted(error, `the window then: ${picture}`);
                } finally {
                    await session.close();
                }
            },
            close: async () => {},
        };
    }
    const started = engine === 'firefox' ? await launchFirefox(opt.firefox) : await launchChromium(opt.chromium);
    return {
        engine,
        browser: started.browser,
        async inFreshPage(origin, play, { viewport } = {}) {
            const context = await started.browser.createBrowserContext();
            try {
                const page = await context.newPage();
                if (viewport) await page.setViewport(viewport);
                const problems = await watch(page, origin);
                try {
                    await play(puppeteerDriver(page));
                } catch (error) {
                    if (!problems.length) throw error;
                    throw noted(error, `and the browser reported\n  ${problems.join('\n  ')}`);
                }
                reported(problems, 'the page');
            } finally {
                await context.close();
            }
        },
        close: started.close,
    };
}

// Inside a describe(): serves the page's `folder` as a usual static host and starts `engine`'s
// browser before the first scenario, and stops both after the last. Answers an object whose
// `server` (with its origin) and `engine` (startBrowser's) are there once the scenarios run.
export function servedInBrowser(folder, engine, opt) {
    const served = { server: null, engine: null };
    before(async () => {
        served.server = await serve(path.resolve(folder));
        served.engine = await startBrowser(engine, opt);
    });
    after(async () => {
        await served.engine?.close();
        await served.server?.close();
    });
    return served;
}

// `play(context)` in a browser context of its own, closed after it.
export async function inContext(browser, play) {
    const context = await browser.createBrowserContext();
    try {
        return await play(context);
    } finally {
        await context.close();
    }
}
