// Web page benchmark: not a test, run by hand on the web zip the package workflow makes.
//
//   node bench/web.mjs --zip out/package/marrowdeep-2.3-web.zip [--chromium PATH]
//                      [--loads N] [--keys N] [--screenshot FILE]
//
// It unpacks the zip into a scratch folder, serves it on 127.0.0.1 and measures in headless
// Chromium:
//   - a cold load, with nothing cached: from the navigation to the name question written to the
//     terminal, --loads times in a new browser with an empty profile, and --loads times in a new
//     tab of a browser already running, with its cache off;
//   - a map key: from its key event to the terminal having taken the redrawn map, with pauses
//     off, for --keys keys after the first map (steps there and back, a walk into a wall and a
//     key the map does not know, over and over, as the Linux benchmark plays them);
//   - the zip's bytes, and each of the page's files gzipped at the highest level.
// With --screenshot it saves a picture of the page showing the map.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import zlib from 'node:zlib';
import { launch, serve, waitInPage, watch } from '../tests/web/browser.mjs';

const { values: opt } = parseArgs({
    options: {
        zip: { type: 'string' },
        chromium: { type: 'string', default: '/usr/bin/chromium' },
        loads: { type: 'string', default: '7' },
        keys: { type: 'string', default: '400' },
        screenshot: { type: 'string' },
    },
});
if (!opt.zip) throw new Error('--zip is missing');
const loads = Math.max(1, Number(opt.loads));
const keyCount = Math.max(200, Number(opt.keys));

// Seed 1 starts on bare floor with bare floor to the right and a wall above: walking right and
// back never meets a tile or a fight.
const ANSWERS = ['bench', 'n', '1'];
const CYCLE = ['d', 'a', 'w', 'x'];
const MAP_LEGEND = 'wasd and q to exit';

function percentile(sorted, p) {
    return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}
const ms = (x) => `${x.toFixed(1)} ms`;
const kb = (x) => `${(x / 1024).toFixed(1)} KB`;

const site = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-bench-'));
const unzip = spawnSync('unzip', ['-q', path.resolve(opt.zip), '-d', site]);
if (unzip.status !== 0) throw new Error(`cannot unpack ${opt.zip}: ${unzip.stderr}`);
const server = await serve(site);

// Waits until the game waits for a key and the terminal has taken all it wrote.
const settled = () => window.marrowdeep?.reading && window.marrowdeep.writing === 0;

// From the navigation to the name question written to the terminal, in a new tab of `browser`.
async function firstPrompt(browser) {
    const page = await browser.newPage();
    await page.setCacheEnabled(false);
    const problems = await watch(page, server.origin);
    await page.goto(`${server.origin}/?pauses=0`);
    await waitInPage(page, settled, 30, 'the name question');
    const shown = await page.evaluate(() => {
        const navigation = performance.getEntriesByType('navigation')[0];
        return window.marrowdeep.lastWritten - navigation.startTime;
    });
    if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
    await page.close();
    return shown;
}

// The first prompt of a load in a new browser each time, and of one in a new tab of one browser.
async function coldLoads() {
    const newBrowser = [];
    for (let i = 0; i < loads; ++i) {
        const chromium = await launch(opt.chromium);
        try {
            newBrowser.push(await firstPrompt(chromium.browser));
        } finally {
            await chromium.close();
        }
    }
    const newTab = [];
    const chromium = await launch(opt.chromium);
    try {
        await firstPrompt(chromium.browser); // the browser's own first page, not counted
        for (let i = 0; i < loads; ++i) newTab.push(await firstPrompt(chromium.browser));
    } finally {
        await chromium.close();
    }
    return [newBrowser.sort((a, b) => a - b), newTab.sort((a, b) => a - b)];
}

async function mapKeys() {
    const chromium = await launch(opt.chromium);
    try {
        const page = await chromium.browser.newPage();
        await page.setViewport({ width: 1040, height: 840 });
        const problems = await watch(page, server.origin);
        await page.evaluateOnNewDocument(() => {
            window.keyEvents = [];
            document.addEventListener('keydown', (e) => window.keyEvents.push(e.timeStamp), true);
        });
        await page.goto(`${server.origin}/?pauses=0`);
        await waitInPage(page, settled, 30, 'the name question');
        for (const answer of ANSWERS) {
            await page.keyboard.type(answer);
            await page.keyboard.press('Enter');
            await waitInPage(page, settled, 30, `the question after ${answer}`);
        }
        // The build: 1 for Strength, then the first map.
        await page.keyboard.type('1');
        await waitInPage(page, settled, 30, 'the first map');
        const times = [];
        for (let i = 0; i < keyCount; ++i) {
            const before = await page.evaluate(() => window.marrowdeep.transcript.length);
            await page.keyboard.press(CYCLE[i % CYCLE.length]);
            await waitInPage(
                page,
                (length) => window.marrowdeep.transcript.length > length && window.marrowdeep.reading && window.marrowdeep.writing === 0,
                30,
                `the map after key ${i + 1}`,
                before,
            );
            const [redrawn, took] = await page.evaluate(
                (length) => [
                    window.marrowdeep.transcript.slice(length),
                    window.marrowdeep.lastWritten - window.keyEvents[window.keyEvents.length - 1],
                ],
                before,
            );
            if (!redrawn.startsWith('<clear>') || !redrawn.includes(MAP_LEGEND)) {
                throw new Error(`key ${i + 1} did not redraw the map: ${JSON.stringify(redrawn.slice(0, 200))}`);
            }
            times.push(took);
        }
        if (opt.screenshot) await page.screenshot({ path: opt.screenshot });
        if (problems.length) throw new Error(`the browser reported\n  ${problems.join('\n  ')}`);
        return times.sort((a, b) => a - b);
    } finally {
        await chromium.close();
    }
}

try {
    const [newBrowser, newTab] = await coldLoads();
    const keys = await mapKeys();

    const files = fs.readdirSync(site).sort();
    let gzipped = 0;
    const sizes = files.map((name) => {
        const bytes = fs.readFileSync(path.join(site, name));
        const packed = zlib.gzipSync(bytes, { level: 9 }).length;
        gzipped += packed;
        return `  ${name.padEnd(18)} ${String(bytes.length).padStart(7)} bytes, ${kb(packed)} gzipped`;
    });

    console.log(`Marrowdeep web page in ${opt.chromium}, served from 127.0.0.1`);
    for (const [where, times] of [
        ['in a new browser', newBrowser],
        ['in a new tab, cache off', newTab],
    ]) {
        console.log(
            `cold load to the first prompt, ${where}: median ${ms(percentile(times, 50))}, ` +
                `fastest ${ms(times[0])}, slowest ${ms(times[times.length - 1])} of ${loads}   (target < 300 ms)`,
        );
    }
    console.log(
        `one map key: median ${ms(percentile(keys, 50))}, 95th percentile ${ms(percentile(keys, 95))} ` +
            `of ${keys.length} keys   (targets < 8 ms and < 16 ms)`,
    );
    console.log(`the zip: ${fs.statSync(opt.zip).size} bytes`);
    console.log(`the page's files gzipped: ${kb(gzipped)} in all   (target < 300 KB)`);
    console.log(sizes.join('\n'));
} finally {
    await server.close();
    fs.rmSync(site, { recursive: true, force: true });
}
