// Plays the page in another browser engine than Chromium, typed on its keyboard, and holds it
// against the Linux program: the three keyboard games of the page test with their screen checks,
// a game resumed after a reload, and a finished game's link replayed.
//
//   node engine_test.mjs --engine firefox --firefox PATH          (Firefox over WebDriver BiDi)
//   node engine_test.mjs --engine webkit --webkit-driver PATH --minibrowser PATH
//                        (WebKitGTK's MiniBrowser through WebKitWebDriver, on its own Xvfb)
//   and, for both: --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY --fuzz FUZZ_DRIVER
//                  --regressions DIR
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { launchFirefox, serve, watch } from './browser.mjs';
import { puppeteerDriver, webdriverDriver } from './drivers.mjs';
import { keyboardGames, linuxTools, playGame, replayLink, resumeHalfway } from './games.mjs';
import { webkitSession } from './webdriver.mjs';

const { values: opt } = parseArgs({
    options: {
        engine: { type: 'string' },
        firefox: { type: 'string', default: '/usr/bin/firefox-esr' },
        'webkit-driver': { type: 'string', default: '/usr/bin/WebKitWebDriver' },
        minibrowser: { type: 'string', default: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser' },
        page: { type: 'string' },
        program: { type: 'string' },
        marks: { type: 'string' },
        fuzz: { type: 'string' },
        regressions: { type: 'string' },
    },
});
for (const name of ['engine', 'page', 'program', 'marks', 'fuzz', 'regressions']) {
    if (!opt[name]) throw new Error(`--${name} is missing`);
}
if (!['firefox', 'webkit'].includes(opt.engine)) throw new Error(`no engine ${opt.engine}: firefox or webkit`);

const { linuxBytes, typeableStream } = linuxTools(opt);
const games = keyboardGames({ regressions: opt.regressions, linuxBytes, typeableStream });
const server = await serve(path.resolve(opt.page));
const tools = { origin: server.origin, linuxBytes };

// Each scenario on a page whose storage starts empty: in Firefox a browser context of its own;
// in WebKit a session of its own (an automated MiniBrowser keeps nothing between sessions).
// A scenario answers its failures.
const scenarios = [
    ...games.map((game) => ({ what: game.what, run: (driver) => playGame(driver, tools, game) })),
    { what: 'the tour resumed after a reload', run: (driver) => resumeHalfway(driver, tools, games[1].keys) },
    { what: 'the saved game replayed from its link', run: (driver) => replayLink(driver, tools, games[0].keys) },
];

async function inFirefox(scenario) {
    const context = await firefox.browser.createBrowserContext();
    try {
        const page = await context.newPage();
        await page.setViewport({ width: 1280, height: 800 });
        const problems = await watch(page, server.origin);
        const failures = await scenario.run(puppeteerDriver(page));
        if (problems.length) failures.push(`the browser reported\n  ${problems.join('\n  ')}`);
        return failures;
    } finally {
        await context.close();
    }
}

// A scenario that fails in WebKit leaves a picture of the window behind, named in its failures.
async function inWebKit(scenario, number) {
    const session = await webkitSession({ driver: opt['webkit-driver'], browser: opt.minibrowser });
    try {
        let failures;
        try {
            failures = await scenario.run(webdriverDriver(session));
        } catch (error) {
            failures = [`${error.stack ?? error}`];
        }
        if (failures.length) {
            const picture = path.join(os.tmpdir(), `marrowdeep-webkit-${process.pid}-${number}.png`);
            fs.writeFileSync(picture, await session.screenshot());
            failures.push(`the window then: ${picture}`);
        }
        return failures;
    } finally {
        await session.close();
    }
}

const failures = [];
const firefox = opt.engine === 'firefox' ? await launchFirefox(opt.firefox) : null;
try {
    for (const [number, scenario] of scenarios.entries()) {
        const started = Date.now();
        let found;
        try {
            found = await (firefox ? inFirefox(scenario) : inWebKit(scenario, number));
        } catch (error) {
            found = [`${error.stack ?? error}`];
        }
        failures.push(...found.map((failure) => `${opt.engine}: ${failure}`));
        console.log(`${opt.engine}: ${scenario.what}: ${found.length ? 'FAILED' : 'ok'} in ${((Date.now() - started) / 1000).toFixed(1)} s`);
    }
} finally {
    await firefox?.close();
    await server.close();
}

if (failures.length) {
    console.log(`FAIL:\n${failures.join('\n')}`);
    process.exit(1);
}
console.log(`PASS: ${scenarios.length} scenarios played in ${opt.engine} as the Linux program plays them`);
