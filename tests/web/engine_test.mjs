// Plays the page in another browser engine than Chromium, typed on its keyboard, and holds it
// against the Linux program: the three keyboard games of the page test with their screen checks,
// a game resumed after a reload, and a finished game's link replayed. Each is a test of
// node:test, on a page whose storage starts empty.
//
//   node engine_test.mjs --engine firefox --firefox PATH          (Firefox over WebDriver BiDi)
//   node engine_test.mjs --engine webkit --webkit-driver PATH --minibrowser PATH
//                        (WebKitGTK's MiniBrowser through WebKitWebDriver, on its own Xvfb)
//   and, for both: --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY --fuzz FUZZ_DRIVER
//                  --regressions DIR
import { describe, it } from 'node:test';
import { keyboardGames, playGame, replayLink, resumeHalfway } from './games.mjs';
import { commandLine, linuxTools, servedInBrowser } from './harness.mjs';

const opt = commandLine(['engine', 'page', 'program', 'marks', 'fuzz', 'regressions']);
if (opt.engine === 'chromium') throw new Error('Chromium plays these games in page_test.mjs: firefox or webkit');

const { linuxBytes, typeableStream } = linuxTools(opt);
const games = keyboardGames({ regressions: opt.regressions, linuxBytes, typeableStream });

describe(`the page in ${opt.engine}`, () => {
    const served = servedInBrowser(opt.page, opt.engine, opt);
    const tools = () => ({ origin: served.server.origin, linuxBytes });
    const play = (scenario) =>
        served.engine.inFreshPage(served.server.origin, scenario, { viewport: { width: 1280, height: 800 } });

    for (const game of games) it(game.what, () => play((driver) => playGame(driver, tools(), game)));
    it('the tour resumed after a reload', () => play((driver) => resumeHalfway(driver, tools(), games[1].keys)));
    it('the saved game replayed from its link', () => play((driver) => replayLink(driver, tools(), games[0].keys)));
});
