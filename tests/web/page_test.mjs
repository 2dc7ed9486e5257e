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
// keyboard's keys as the game reads them (screen.mjs). Each is a test of node:test: a failure
// names its scenario, and every scenario reports.
import assert from 'node:assert/strict';
import path from 'node:path';
import { describe, it } from 'node:test';
import { PLACES, keyboardGames, playGame } from './games.mjs';
import { commandLine, linuxTools, servedInBrowser } from './harness.mjs';
import { installable, newBuild, offlinePlay } from './install.mjs';
import { SIZES, layoutAt, screenReader, tapsAlone } from './phone.mjs';
import {
    badLinksShowSentence,
    finishedGame,
    linkReplayed,
    linkTakenOver,
    resume,
    seededByTheClock,
    storageRefused,
    twoTabs,
} from './runs.mjs';
import { keysAsSent, screenTakesAnyBytes, screenWithoutItsFont } from './screen.mjs';
import { gzipTakers, staticHost } from './static-host.mjs';

const opt = commandLine(['page', 'program', 'marks', 'fuzz', 'regressions']);
const { linuxBytes, typeableStream } = linuxTools(opt);
const games = keyboardGames({ regressions: opt.regressions, linuxBytes, typeableStream });
const [savedGame, tour] = games.map((game) => game.keys);

// The server the games are played from, as a usual static host.
describe('the static host', () => {
    it('takes gzip where Accept-Encoding asks for it', gzipTakers);
    it('serves the folder as a usual static host does', staticHost);
});

describe('the page in Chromium', () => {
    const served = servedInBrowser(opt.page, 'chromium', opt);
    // What every scenario is given: the browser, the page's origin and the Linux program's bytes.
    const at = () => ({ browser: served.engine.browser, origin: served.server.origin, linuxBytes });

    // Each game in a browser context of its own, whose storage holds no game left unfinished.
    describe('the keyboard games', () => {
        for (const game of games) {
            it(`${game.what} (${game.keys.length} keys)`, () =>
                served.engine.inFreshPage(served.server.origin, (driver) =>
                    playGame(driver, { origin: served.server.origin, linuxBytes, hold: served.server.hold }, game),
                ));
        }
        it('reach every place between them', () => {
            const written = games.map((game) => linuxBytes(game.keys));
            const missed = Object.keys(PLACES).filter((place) => !written.some((bytes) => bytes.includes(PLACES[place])));
            assert.deepEqual(missed, [], `no game reached ${missed.join(', ')}`);
        });
    });

    // The page's runs: a game resumed after a reload, with a typed seed and with one from the
    // clock; the saved game's link and file; bad links; two tabs; storage refused.
    describe('the runs', () => {
        const found = { link: null };
        it('a game resumed after a reload', () => resume({ ...at(), keys: tour, what: 'resume' }));
        it('a game seeded by the clock resumed after a reload, a day later', () =>
            resume({ ...at(), keys: seededByTheClock(typeableStream(53)), second: 1796000000, what: 'resume with the clock' }));
        it('the saved game finished, its link made and its run saved as a file', () => finishedGame({ ...at(), keys: savedGame, found }));
        it('its link replayed at once, and as another version made it', (t) =>
            found.link ? linkReplayed({ ...at(), keys: savedGame, link: found.link }) : t.skip('the finished game made no link'));
        it('its link paused at once, stepped and taken over', (t) =>
            found.link ? linkTakenOver({ ...at(), keys: savedGame, link: found.link }) : t.skip('the finished game made no link'));
        it('bad links say so and do nothing else', (t) =>
            found.link ? badLinksShowSentence({ ...at(), link: found.link }) : t.skip('the finished game made no link'));
        it('a second tab takes the game over', () => twoTabs({ ...at(), keys: tour.slice(0, 300) }));
        it('storage refused, the game plays on', () => storageRefused(at()));
    });

    // The page as an installed app: offline play, Chromium's install check and a new build.
    describe('the installed app', () => {
        const folder = path.resolve(opt.page);
        it('plays offline from its service worker', () => offlinePlay({ ...at(), folder }));
        it("passes Chromium's install check", () => installable({ ...at(), folder }));
        it("takes a new build's files once no page of the old one is open", () => newBuild({ ...at(), folder }));
    });

    describe('on phones and in windows of every size', () => {
        it('a game played by taps alone', () => tapsAlone({ ...at(), typeableStream }));
        for (const size of SIZES) it(`the screens whole on ${size.what}`, () => layoutAt(size, { ...at(), savedGame }));
        it('the screen reader switch', () => screenReader({ ...at(), savedGame }));
    });

    // The screen fed random bytes the way the game writes, the page without its font, and the
    // keyboard's keys as the game reads them.
    describe('the screen', () => {
        it('takes any bytes', () => screenTakesAnyBytes(at()));
        it("plays without its font, and from a first screen that is not the game's", () => screenWithoutItsFont(at()));
        it("gets the keyboard's keys as a terminal sends them", () => keysAsSent(at()));
    });
});
