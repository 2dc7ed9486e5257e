// Two or more builds of the web page told apart: not a test, run by hand. Each build's first and
// repeat visits are taken in turn with the blank page's, in the same browser context each round,
// so that a busy machine slows them all alike; bench/web.mjs measures one build and much else.
//
//   node bench/turns.mjs [--loads N] [--stopped] [--chromium PATH] NAME=PAGE_FOLDER NAME=PAGE_FOLDER ...
//
// Each round and condition (as the machine is, and as a phone: conditions.mjs) has a fresh
// context: a first visit of each page, the one to go first turning round by round, then a repeat
// visit of each in the same order. With --stopped the context's service workers are stopped
// before each repeat visit, as they are when a player comes back later; without it they are
// still running from the first visits. A visit is timed as bench/web.mjs times it: the page's
// folder opened as a player does, to the name question shown and taking keys, and to the game
// ready; the blank page to its line. It writes the medians of --loads rounds (7), each as a
// ratio to the blank page's.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { serve, waitInPage } from '../tests/web/browser.mjs';
import { launchChromium } from '../tests/web/harness.mjs';
import { CONDITIONS, emulate } from './conditions.mjs';
import { blankPage, watchTheQuestion } from './site.mjs';

const { values: opt, positionals } = parseArgs({
    allowPositionals: true,
    options: {
        loads: { type: 'string', default: '7' },
        stopped: { type: 'boolean', default: false },
        chromium: { type: 'string', default: '/usr/bin/chromium' },
    },
});
const loads = Math.max(1, Number(opt.loads));
if (positionals.length < 1 || !positionals.every((p) => /^[\w-]+=./.test(p))) {
    throw new Error('give the builds as NAME=PAGE_FOLDER, one or more');
}

// The site: each build in a folder of its own name, and the blank page.
const site = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-turns-'));
const names = positionals.map((given) => {
    const [name, folder] = [given.slice(0, given.indexOf('=')), given.slice(given.indexOf('=') + 1)];
    if (name === 'blank' || !fs.existsSync(path.join(folder, 'index.html'))) throw new Error(`${given}: no page there`);
    fs.cpSync(path.resolve(folder), path.join(site, name), { recursive: true });
    return name;
});
blankPage(site);
const server = await serve(site);

const since = (t) => t - performance.getEntriesByType('navigation')[0].startTime;
const build = (name) => ({
    name,
    url: `${server.origin}/${name}/`,
    prepare: watchTheQuestion,
    ready: () => window.questionAt !== undefined && window.marrowdeep.reading && window.marrowdeep.writing === 0,
    times: () => [window.questionAt, window.marrowdeep.readySince ?? window.marrowdeep.lastWritten],
});
const BLANK = { name: 'blank', url: `${server.origin}/blank/`, ready: () => window.shown !== undefined, times: () => [window.shown] };

// One visit of `which` in a new tab of `context`: its times in ms from the navigation.
async function visit(context, which, condition, first) {
    const page = await context.newPage();
    await page.setCacheEnabled(false);
    await emulate(page, condition);
    if (which.prepare) await page.evaluateOnNewDocument(which.prepare);
    await page.goto(which.url, { timeout: 60000 });
    await waitInPage(page, which.ready, 60, `${which.name}'s question`);
    const times = await page.evaluate(`(${which.times})().map(${since})`);
    if (first && which !== BLANK) await waitInPage(page, () => navigator.serviceWorker.controller !== null, 60, 'the service worker');
    await page.close();
    return times;
}

async function stopWorkers(context) {
    const page = await context.newPage();
    const session = await page.createCDPSession();
    await session.send('ServiceWorker.enable');
    await session.send('ServiceWorker.stopAllWorkers');
    await session.detach();
    await page.close();
}

const times = new Map(); // "condition kind name" -> [[question, game ready]]
const chromium = await launchChromium(opt.chromium);
try {
    const pages = [...names.map(build), BLANK];
    for (let round = -1; round < loads; ++round) {
        for (const condition of CONDITIONS) {
            const turn = (round + 1) % pages.length;
            const order = [...pages.slice(turn), ...pages.slice(0, turn)];
            const context = await chromium.browser.createBrowserContext();
            try {
                for (const kind of ['first', 'repeat']) {
                    for (const which of order) {
                        if (kind === 'repeat' && opt.stopped) await stopWorkers(context);
                        const got = await visit(context, which, condition, kind === 'first');
                        const key = `${condition.name} ${kind} ${which.name}`;
                        if (round >= 0) times.set(key, [...(times.get(key) ?? []), got]);
                    }
                }
            } finally {
                await context.close();
            }
        }
    }
} finally {
    await chromium.close();
    await server.close();
    fs.rmSync(site, { recursive: true, force: true });
}

const median = (list) => {
    const sorted = [...list].sort((a, b) => a - b);
    const middle = Math.floor(sorted.length / 2);
    return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};
console.log(`${loads} rounds, service workers ${opt.stopped ? 'stopped' : 'running'} before the repeat visits; load average ${os.loadavg().map((x) => x.toFixed(1)).join(' ')}`);
for (const condition of CONDITIONS) {
    for (const kind of ['first', 'repeat']) {
        const blank = median(times.get(`${condition.name} ${kind} blank`).map(([shown]) => shown));
        const parts = names.map((name) => {
            const got = times.get(`${condition.name} ${kind} ${name}`);
            const [question, ready] = [median(got.map(([q]) => q)), median(got.map(([, r]) => r))];
            return `${name} ${question.toFixed(0)} ms = ${(question / blank).toFixed(2)} x, the game ready ${ready.toFixed(0)} ms`;
        });
        console.log(`[${condition.name}] ${kind} visit: the blank page ${blank.toFixed(0)} ms; ${parts.join('; ')}`);
    }
}
