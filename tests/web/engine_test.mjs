// Plays the page in another browser engine than Chromium, typed on its keyboard, and holds it
// against the Linux program: the three keyboard games of the page test with their screen checks,
// a game resumed after a reload, a finished game's link replayed, and the terminal's size for boxes
// of every size. Each is a test of node:test, on a page whose storage starts empty.
//
//   node engine_test.mjs --engine firefox --firefox PATH          (Firefox over WebDriver BiDi)
//   node engine_test.mjs --engine webkit --webkit-driver PATH --minibrowser PATH
//                        (WebKitGTK's MiniBrowser through WebKitWebDriver, on its own Xvfb)
//   and, for both: --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY --fuzz FUZZ_DRIVER
//                  --regressions DIR [--hall HALL_PROGRAM]
//
// With --hall, the page served by the real hall plays a game live on it (live.mjs), and a run it
// sends carries the player's key and a signature that verifies over the hall's id (keys.mjs), and
// the player's and the run's pages show names of control bytes, markup and 1,000 bytes as text
// (players.mjs).
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { keyboardGames, playGame, replayLink, resumeHalfway } from './games.mjs';
import { startHall } from './hall.mjs';
import { signedBy, signingProxy } from './keys.mjs';
import { commandLine, linuxTools, servedInBrowser, startBrowser } from './harness.mjs';
import { playedLiveBy } from './live.mjs';
import { fitsEverySpace } from './phone.mjs';
import { playerAndRunPages } from './players.mjs';

const opt = commandLine(['engine', 'page', 'program', 'marks', 'fuzz', 'regressions']);
if (opt.engine === 'chromium') throw new Error('Chromium plays these games in page_test.mjs: firefox or webkit');

const { linuxBytes, typeableStream } = linuxTools(opt);
const games = keyboardGames({ regressions: opt.regressions, linuxBytes, typeableStream });

describe(`the page in ${opt.engine}`, () => {
    const served = servedInBrowser(opt.page, opt.engine, opt);
    const tools = () => ({ origin: served.server.origin, linuxBytes, hold: served.server.hold });
    const play = (scenario) =>
        served.engine.inFreshPage(served.server.origin, scenario, { viewport: { width: 1280, height: 800 } });

    for (const game of games) it(game.what, () => play((driver) => playGame(driver, tools(), game)));
    it('the tour resumed after a reload', () => play((driver) => resumeHalfway(driver, tools(), games[1].keys)));
    it('the saved game replayed from its link', () => play((driver) => replayLink(driver, tools(), games[0].keys)));
    it("the terminal's size for boxes of every size", () => play((driver) => fitsEverySpace(driver, tools())));
});

if (opt.hall) {
    describe(`the page in ${opt.engine} on a hall`, () => {
        let folder;
        let hall = null;
        let engine = null;
        before(async () => {
            folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-engine-hall-'));
            hall = await startHall(path.resolve(opt.hall), path.resolve(opt.page), folder);
            engine = await startBrowser(opt.engine, opt);
        });
        after(async () => {
            await engine?.close();
            await hall?.stop();
            fs.rmSync(folder, { recursive: true, force: true });
        });
        it('a game played live', () =>
            engine.inFreshPage(hall.origin, (driver) => playedLiveBy(driver, { origin: hall.origin, linuxBytes }), { viewport: { width: 1280, height: 800 } }));
        it("names on the player's and the run's pages", () =>
            engine.inFreshPage(hall.origin, (driver) => playerAndRunPages(driver, { origin: hall.origin, folder }), { viewport: { width: 1280, height: 800 } }));
        it('a run sent signed with the player\'s key', async () => {
            const proxy = await signingProxy(hall.origin);
            try {
                await engine.inFreshPage(proxy.origin, (driver) => signedBy(driver, { proxy, hallOrigin: hall.origin, linuxBytes }), { viewport: { width: 1280, height: 800 } });
            } finally {
                await proxy.close();
            }
        });
    });
}
