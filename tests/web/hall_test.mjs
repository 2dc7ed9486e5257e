// The web page with the hall (hall.mjs): the real marrowdeep-hall program serves the page's
// folder, with a database of its own and its clock held, and headless Chromium plays the page,
// sends runs, reads the boards and uploads files of keys; the same folder served by a plain
// static server shows no hall control.
//
//   node hall_test.mjs --page DIR --hall HALL_PROGRAM --program LINUX_PROGRAM --marks MARKS_LIBRARY
//                      [--chromium PATH]
//
// With `script` (util-linux) at hand, a game of the Linux program is played in a terminal under
// `script -I`, and the keys it logged are uploaded as a file.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { launch, serve } from './browser.mjs';
import { keysFiles, sendAndBoard, startHall, todaysSeed, withoutHall } from './hall.mjs';

const { values: opt } = parseArgs({
    options: {
        page: { type: 'string' },
        hall: { type: 'string' },
        program: { type: 'string' },
        marks: { type: 'string' },
        chromium: { type: 'string', default: '/usr/bin/chromium' },
    },
});
for (const name of ['page', 'hall', 'program', 'marks']) {
    if (!opt[name]) throw new Error(`--${name} is missing`);
}

// What the Linux program writes for `keys` (one character per byte), its output marked.
function linuxBytes(keys) {
    const run = spawnSync(opt.program, [], {
        input: Buffer.from(keys, 'latin1'),
        env: { ...process.env, LD_PRELOAD: path.resolve(opt.marks) },
        maxBuffer: 1 << 28,
        timeout: 120000,
    });
    if (run.error) throw run.error;
    if (run.status !== 0) throw new Error(`the Linux program ended with ${run.status ?? run.signal}`);
    return run.stdout.toString('latin1');
}

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

const failures = [];
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-hall-test-'));
const site = path.resolve(opt.page);
const chromium = await launch(opt.chromium);
let hall = null;
try {
    const server = await serve(site);
    try {
        failures.push(...(await withoutHall({ browser: chromium.browser, origin: server.origin })));
    } finally {
        await server.close();
    }
    hall = await startHall(path.resolve(opt.hall), site, folder);
    const at = { browser: chromium.browser, origin: hall.origin, linuxBytes };
    failures.push(...(await sendAndBoard(at)));
    failures.push(...(await todaysSeed(at)));
    failures.push(...(await keysFiles({ ...at, terminalRecording: terminalRecording(folder) })));
} finally {
    await chromium.close();
    if (hall) await hall.stop();
    fs.rmSync(folder, { recursive: true, force: true });
}
if (failures.length) {
    console.log(`FAIL:\n${failures.join('\n')}`);
    if (hall) console.log(`the hall's log:\n${hall.log.join('\n')}`);
    process.exit(1);
}
console.log('PASS: runs sent to the hall from the page, its boards, the day\'s seed and files of keys');
