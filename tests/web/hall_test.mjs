// The web page with the hall (hall.mjs): the real marrowdeep-hall program serves the page's
// folder, with a database of its own and its clock held, and headless Chromium plays the page,
// sends runs, reads the boards and uploads files of keys; the same folder served by a plain
// static server shows no hall control.
//
//   node hall_test.mjs --page DIR --hall HALL_PROGRAM --program LINUX_PROGRAM --marks MARKS_LIBRARY
//                      [--chromium PATH]
//
// With `script` (util-linux) at hand, a game of the Linux program is played in a terminal under
// `script -I`, and the keys it logged are uploaded as a file. The player's key: the page's run ids
// are the hall's, and the runs it sends and its live game's end carry signatures that verify over
// them, through a key exported from one profile and imported into another; a damaged key file is
// refused, and a browser without Ed25519 sends unsigned. The player's and the run's pages show
// names of control bytes, markup and 1,000 bytes as text, on a 390 x 844 phone, where neither
// scrolls sideways and the run's sheet fills the width. Each scenario is a test of
// node:test; a failure names its scenario, and the hall's log follows any failure.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { keysFiles, noticesBeside, sendAndBoard, startHall, todaysSeed, withoutHall } from './hall.mjs';
import { PHONE, SIZES } from './phone.mjs';
import { idsAsTheHall, signedRuns, signingProxy, unsignedRuns } from './keys.mjs';
import { hallKilled, playedLive, refusedLive, reloadedLive } from './live.mjs';
import { playerAndRunPages } from './players.mjs';
import { commandLine, linuxTools, serve, startBrowser } from './harness.mjs';

const opt = commandLine(['page', 'hall', 'program', 'marks']);
const { linuxBytes } = linuxTools(opt);

// A game of the Linux program in a terminal, as `script` logs its typed keys: the name typed
// with a slip mended by Backspace, each Enter a CR. Answers {typed, read}: the log and the bytes
// the game read, or null without `script`.
function terminalRecording(folder) {
    const keys = 'terx\x7fm\rn\r31\r1\rddq';
    const log = path.join(folder, 'typescript');
    const run = spawnSync('script', ['-q', '-I', log, '-c', path.resolve(opt.program)], {
        input: Buffer.from(keys, 'latin1'),
        stdio: ['pipe', 'pipe', 'pipe'],
        timeout: 60000,
    });
    if (run.error?.code === 'ENOENT') {
        console.log('no script program: the terminal recording is left out');
        return null;
    }
    if (run.status !== 0) throw new Error(`script ended with ${run.status ?? run.signal}: ${run.stderr}`);
    const typed = fs.readFileSync(log, 'latin1');
    if (!typed.includes(keys)) throw new Error(`script logged ${JSON.stringify(typed)}`);
    if (!run.stdout.toString('latin1').includes('Seed: 31')) throw new Error('the game in the terminal did not take seed 31');
    return { typed, read: 'term\nn\n31\n1\nddq' };
}

const site = path.resolve(opt.page);

describe('the page with the hall', () => {
    let folder;
    let chromium;
    let hall = null;
    let failed = false;
    // A scenario whose failure keeps the hall's log for the end.
    const scenario = (run) => async () => {
        try {
            await run();
        } catch (error) {
            failed = true;
            throw error;
        }
    };
    before(async () => {
        folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-hall-test-'));
        chromium = await startBrowser('chromium', opt);
    });
    after(async () => {
        await chromium?.close();
        if (hall) await hall.stop();
        if (failed && hall) console.log(`the hall's log:\n${hall.log.join('\n')}`);
        fs.rmSync(folder, { recursive: true, force: true });
    });

    it('the page without a hall shows none of its controls', async () => {
        const server = await serve(site);
        try {
            await withoutHall({ browser: chromium.browser, origin: server.origin });
        } finally {
            await server.close();
        }
    });

    describe('served by the hall', () => {
        const at = () => ({ browser: chromium.browser, origin: hall.origin, linuxBytes });
        before(async () => {
            hall = await startHall(path.resolve(opt.hall), site, folder);
        });
        it('a game sent, its record shown and found on the board', scenario(() => sendAndBoard(at())));
        it("today's seed", scenario(() => todaysSeed(at())));
        it('files of keys sent', scenario(() => keysFiles({ ...at(), terminalRecording: terminalRecording(folder) })));
        it('notices beside the game at every size', scenario(() => noticesBeside(at(), SIZES)));
        it("names on the player's and the run's pages", scenario(() =>
            chromium.inFreshPage(hall.origin, (driver) => playerAndRunPages(driver, { origin: hall.origin, folder }), { viewport: PHONE }),
        ));
    });

    // The player's key, on a hall of its own behind a server that notes each run's headers.
    describe("the player's key", () => {
        let keyFolder;
        let keyHall = null;
        let proxy = null;
        before(async () => {
            keyFolder = fs.mkdtempSync(path.join(folder, 'keys-'));
            keyHall = await startHall(path.resolve(opt.hall), site, keyFolder);
            proxy = await signingProxy(keyHall.origin);
        });
        after(async () => {
            await proxy?.close();
            if (keyHall) await keyHall.stop();
            if (failed && keyHall) console.log(`the key hall's log:\n${keyHall.log.join('\n')}`);
        });
        it("the page's run ids are the hall's", scenario(() => idsAsTheHall({ origin: keyHall.origin })));
        it('runs sent signed, the key exported, imported and a damaged file refused', scenario(() =>
            signedRuns({ browser: chromium.browser, proxy, hallOrigin: keyHall.origin, linuxBytes }),
        ));
        it('a browser without Ed25519 sends its runs unsigned', scenario(() =>
            unsignedRuns({ browser: chromium.browser, proxy, hallOrigin: keyHall.origin }),
        ));
    });

    // The live games, on a hall of their own (its database in a folder of its own), which the
    // last scenario kills and starts again.
    describe('played live on the hall', () => {
        let liveFolder;
        let liveHall = null;
        const at = () => ({ browser: chromium.browser, origin: liveHall.origin, linuxBytes });
        before(async () => {
            liveFolder = fs.mkdtempSync(path.join(folder, 'live-'));
            liveHall = await startHall(path.resolve(opt.hall), site, liveFolder);
        });
        after(async () => {
            if (liveHall) await liveHall.stop();
            if (failed && liveHall) console.log(`the live hall's log:\n${liveHall.log.join('\n')}`);
        });
        it('a game played live, watched and kept', scenario(() => playedLive(at())));
        it('a game played live, the page reloaded half-way', scenario(() => reloadedLive(at())));
        it('a game played live, the hall killed half-way', scenario(() =>
            hallKilled({
                ...at(),
                hall: liveHall,
                async restart() {
                    const port = new URL(liveHall.origin).port;
                    liveHall = await startHall(path.resolve(opt.hall), site, liveFolder, { listen: `127.0.0.1:${port}` });
                    return liveHall;
                },
            }),
        ));
        // Last: the game the hall held for it is left listed.
        it('a game played live, its stream refused', scenario(() => refusedLive(at())));
    });
});
