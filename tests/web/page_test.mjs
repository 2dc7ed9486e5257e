// Plays whole games on the web page in headless Chromium, typed key by key on the page's
// keyboard, and holds what the page's game wrote (its transcript, clears and pauses marked)
// against what the Linux program writes for the same keys with the marks library loaded.
//
//   node page_test.mjs --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY --fuzz FUZZ_DRIVER
//                      --regressions DIR [--chromium PATH]
//
// The games (games.mjs, which engine_test.mjs plays in Firefox and WebKit too; tmux_screens.mjs
// holds the page's screens against tmux's): a saved one that goes into the tier, reads every scroll
// and quits, its name typed with a slip mended by Backspace; a generated tour with fights,
// level-ups, the status screen, a refresh and tier rooms; and one lost in a fight, after which Enter
// starts a new game. Only keys a player types on the page's keyboard are used: printable characters
// and Enter. Then the page on phones and in windows of every size (phone.mjs): a game by taps
// alone, the screens whole at each size, and the screen reader switch. And the page's runs
// (runs.mjs): games resumed after a reload, replays from a link and a saved file, bad links, two
// tabs and storage refused. And the screen fed random bytes, the page without its font, and the
// keyboard's keys as the game reads them (screen.mjs).
import path from 'node:path';
import { parseArgs } from 'node:util';
import { launch, serve, watch } from './browser.mjs';
import { puppeteerDriver } from './drivers.mjs';
import { PLACES, keyboardGames, linuxTools, playGame } from './games.mjs';
import { installable, newBuild, offlinePlay } from './install.mjs';
import { onPhones } from './phone.mjs';
import { runScenarios } from './runs.mjs';
import { keysAsSent, screenTakesAnyBytes, screenWithoutItsFont } from './screen.mjs';
import { staticHost } from './static-host.mjs';

const { values: opt } = parseArgs({
    options: {
        page: { type: 'string' },
        program: { type: 'string' },
        marks: { type: 'string' },
        fuzz: { type: 'string' },
        regressions: { type: 'string' },
        chromium: { type: 'string', default: '/usr/bin/chromium' },
    },
});
for (const name of ['page', 'program', 'marks', 'fuzz', 'regressions']) {
    if (!opt[name]) throw new Error(`--${name} is missing`);
}

const { linuxBytes, typeableStream } = linuxTools(opt);
const games = keyboardGames({ regressions: opt.regressions, linuxBytes, typeableStream });

// The server the games are played from, as a usual static host.
const failures = await staticHost();
const reached = new Set();
const server = await serve(path.resolve(opt.page));
const chromium = await launch(opt.chromium);
try {
    for (const game of games) {
        for (const [place, text] of Object.entries(PLACES)) if (linuxBytes(game.keys).includes(text)) reached.add(place);
        // Each game in a browser context of its own, whose storage holds no game left unfinished.
        const context = await chromium.browser.createBrowserContext();
        const page = await context.newPage();
        const problems = await watch(page, server.origin);
        failures.push(...(await playGame(puppeteerDriver(page), { origin: server.origin, linuxBytes }, game)));
        if (problems.length) failures.push(`${game.what}: the browser reported\n  ${problems.join('\n  ')}`);
        await context.close();
        console.log(`${game.what}: ${game.keys.length} keys`);
    }
    // The page's runs (runs.mjs): a game resumed after a reload, with a typed seed and with one
    // from the clock; the saved game's link and file; bad links; two tabs; storage refused.
    const runs = { browser: chromium.browser, origin: server.origin, linuxBytes, tour: games[1].keys, clockTour: typeableStream(53) };
    failures.push(...(await runScenarios({ ...runs, finished: games[0].keys })));
    // The page as an installed app: offline play, Chromium's install check and a new build.
    for (const scenario of [offlinePlay, installable, newBuild]) {
        failures.push(...(await scenario({ browser: chromium.browser, folder: path.resolve(opt.page), linuxBytes })));
    }
    const phones = { browser: chromium.browser, origin: server.origin, linuxBytes, typeableStream, savedGame: games[0].keys };
    failures.push(...(await onPhones(phones)));
    // The screen fed random bytes the way the game writes, the page without its font, and the
    // keyboard's keys as the game reads them (screen.mjs).
    for (const scenario of [screenTakesAnyBytes, screenWithoutItsFont, keysAsSent]) {
        failures.push(...(await scenario({ browser: chromium.browser, origin: server.origin })));
    }
} finally {
    await chromium.close();
    await server.close();
}

const missed = Object.keys(PLACES).filter((place) => !reached.has(place));
if (missed.length) failures.push(`no game reached ${missed.join(', ')}`);
if (failures.length) {
    console.log(`FAIL:\n${failures.join('\n')}`);
    process.exit(1);
}
console.log(`PASS: ${games.length} games played on the page as the Linux program plays them`);
