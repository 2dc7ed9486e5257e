// Drivers of the page for games.mjs: one over a puppeteer page (Chromium, Firefox) and one over
// a WebDriver session (webdriver.mjs, WebKit).
import { waitInPage } from './browser.mjs';
import { KEY } from './webdriver.mjs';

export function puppeteerDriver(page) {
    return {
        goto: (url) => page.goto(url),
        reload: () => page.reload(),
        evaluate: (fn, ...args) => page.evaluate(fn, ...args),
        type: (keys) => page.keyboard.type(keys),
        press: (key) => page.keyboard.press(key),
        waitFor: (fn, seconds, what, ...args) => waitInPage(page, fn, seconds, what, ...args),
    };
}

// The script that runs `fn` in the page over WebDriver's async execute: its answer, or what it
// threw, comes back as a record so that a throw is told apart from a value.
const CALL = `
    const done = arguments[arguments.length - 1];
    const args = Array.from(arguments).slice(0, -1);
    Promise.resolve()
        .then(() => (FN)(...args))
        .then((value) => done({ value: value === undefined ? null : value }), (e) => done({ thrown: String(e) }));`;

// A loop in the page that asks `fn` every 20 ms until it answers true or `seconds` pass.
const WAIT = `
    const done = arguments[arguments.length - 1];
    const [seconds, ...args] = Array.from(arguments).slice(0, -1);
    const end = Date.now() + seconds * 1000;
    const ask = () => {
        let yes = false;
        try { yes = Boolean((FN)(...args)); } catch {}
        if (yes) done(true);
        else if (Date.now() > end) done(false);
        else setTimeout(ask, 20);
    };
    ask();`;

// Keys go to the focused element in pieces of this many, each one WebDriver action list.
const PIECE = 200;

export function webdriverDriver(session) {
    const evaluate = async (fn, ...args) => {
        const answer = await session.executeAsync(CALL.replace('FN', () => String(fn)), args);
        if (answer && 'thrown' in answer) throw new Error(`the page threw ${answer.thrown}`);
        return answer?.value;
    };
    return {
        goto: (url) => session.goto(url),
        reload: () => session.reload(),
        evaluate,
        type: async (keys) => {
            const text = keys.replaceAll('\n', KEY.Enter);
            for (let at = 0; at < text.length; at += PIECE) await session.keys(text.slice(at, at + PIECE));
        },
        press: (key) => session.keys(KEY[key]),
        waitFor: async (fn, seconds, what, ...args) => {
            // A page that is loading may throw away a script; the wait is asked again.
            const end = Date.now() + seconds * 1000;
            for (;;) {
                let yes = false;
                try {
                    const left = Math.max(0, (end - Date.now()) / 1000);
                    yes = await session.executeAsync(WAIT.replace('FN', () => String(fn)), [Math.min(left, 20), ...args]);
                } catch (error) {
                    if (Date.now() > end) throw error;
                    await new Promise((next) => setTimeout(next, 100));
                }
                if (yes) return;
                if (Date.now() > end) throw new Error(`the page did not get to ${what} within ${seconds} s`);
            }
        },
    };
}
