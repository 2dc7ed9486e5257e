// The hall's link reader and writer held against the page's own (web/runs/run-link.js): links the page
// writes read back to the same runs in the hall, links the hall writes read back in the page, and
// links cut short, changed or oversized get the same sentence from both.
//
//   node links_test.mjs <proof_link_tool>
import { spawnSync } from 'node:child_process';
import { decodeRun, encodeRun, MOST_KEYS, MOST_TEXT, DAMAGED, TOO_LONG, FOREIGN } from '../../web/runs/run-link.js';

const tool = process.argv[2];
const latin1 = (s) => Buffer.from(s, 'latin1');
const hex = (s) => (s.length === 0 ? '-' : latin1(s).toString('hex'));
const hexUtf8 = (s) => (s.length === 0 ? '-' : Buffer.from(s, 'utf8').toString('hex'));
const status = { [DAMAGED]: 400, [FOREIGN]: 400, [TOO_LONG]: 413 };

// Every request of the test in one run of the tool, one answer a line.
function ask(requests) {
    const run = spawnSync(tool, { input: requests.join('\n') + '\n', maxBuffer: 1 << 28 });
    if (run.status !== 0) throw new Error(`${tool} failed: ${run.stderr}`);
    const answers = run.stdout.toString('latin1').split('\n');
    answers.pop();
    if (answers.length !== requests.length) throw new Error(`${answers.length} answers to ${requests.length} requests`);
    return answers;
}

// What the page's reader makes of a text, in the tool's words.
async function pageAnswer(text) {
    const { run, error } = await decodeRun(text);
    if (error) return `refused ${status[error]} ${error}`;
    return `ok ${hex(run.keys)} ${run.clock === null ? '-' : run.clock} ${hexUtf8(run.version)}`;
}

let everyByte = '';
for (let i = 0; i < 1024; ++i) everyByte += String.fromCharCode((i * 37) % 256);
let longKeys = '';
for (let i = 0; i < MOST_KEYS; ++i) longKeys += 'wasdkK\nbxq'[(i * i) % 10];
const runs = [
    { keys: '', clock: null, version: '2.3' },
    { keys: 'hero\nn\n7\n1\nq', clock: null, version: '2.3' },
    { keys: 'QZRV\ny\n2\nbxq', clock: 1767225600, version: '2.3' },
    { keys: everyByte, clock: -(2 ** 53 - 1), version: 'été' },
    { keys: longKeys, clock: 2 ** 53 - 1, version: '' },
    { keys: longKeys + 'w', clock: 0, version: '2.3' },
    { keys: '\0'.repeat(5 * MOST_KEYS), clock: null, version: '2.3' },
];

let failures = 0;
function check(what, ours, page) {
    if (ours !== page) {
        ++failures;
        console.error(`FAIL ${what}:\n  hall: ${ours.slice(0, 200)}\n  page: ${page.slice(0, 200)}`);
    }
}

// The page's links, read by the hall; the hall's links, read by the page.
const pageLinks = [];
for (const run of runs) pageLinks.push(await encodeRun(run));
const hallLinks = ask(runs.map((run) => `W ${hex(run.keys)} ${run.clock === null ? '-' : run.clock} ${hexUtf8(run.version)}`));
const texts = [...pageLinks, ...hallLinks];

// Changed texts: a short link cut at every length and with each character changed, and text
// around the limits.
const short = pageLinks[2];
const alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';
for (let n = 0; n < short.length; ++n) texts.push(short.slice(0, n));
for (let i = 0; i < short.length; ++i) {
    for (const c of ['A', 'z', '-', '_', '+', '=', ' ']) {
        if (c !== short[i]) texts.push(short.slice(0, i) + c + short.slice(i + 1));
    }
}
for (const c of alphabet) texts.push(short + c, c + short);
texts.push('A'.repeat(MOST_TEXT), 'A'.repeat(MOST_TEXT + 1), 'AQ', 'AQA', '', 'AgAAAAA');

const ours = ask(texts.map((text) => `R ${text}`));
for (let i = 0; i < texts.length; ++i) check(`text ${i} (${texts[i].slice(0, 40)})`, ours[i], await pageAnswer(texts[i]));
// The page's links and the hall's are read alike, whoever wrote them.
for (let i = 0; i < runs.length; ++i) check(`run ${i} both ways`, ours[i], ours[runs.length + i]);

console.log(`${texts.length} texts read by the hall and the page: ${failures} differ`);
process.exit(failures === 0 ? 0 : 1);
