// The player's key on a page served by the hall (hall.mjs starts the real marrowdeep-hall): the
// page's run ids are the hall's; every run the page sends carries the player's public key and a
// signature that node's own Ed25519 verifies over "marrowdeep-run-1 " and the id the hall gave
// the run, in Chromium, Firefox and WebKit; a live game's end is signed the same way; the key
// exported from one browser profile and imported into another signs as the same key; and a
// damaged key file is refused with a sentence, the key kept unchanged. The headers are read on
// the way by a small node server in front of the hall (signingProxy). Each scenario fails
// through node:assert.
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { DAMAGED_FILE } from '../../web/keys/player-key.js';
import { runId } from '../../web/runs/run-id.js';
import { encodeRun } from '../../web/runs/run-link.js';
import { api, hallShown } from './hall.mjs';
import { openPage as openWatched, reported, sameBytes, settled, typeKeys, waitInPage } from './harness.mjs';

const SIGNED = 'marrowdeep-run-1 ';
const KEPT = 'marrowdeep.playerKey';

// A server on a free port of 127.0.0.1 that hands every request and WebSocket on to the hall at
// `hallOrigin` as it came (its Host too, so the hall takes the page's origin for its own), and
// notes the key, the signature and the body of each run posted. Resolves to {origin, posted,
// close}: `posted` is a list of {key, signature, body}, with null for a header not sent.
export function signingProxy(hallOrigin) {
    const hall = new URL(hallOrigin);
    const posted = [];
    const sockets = new Set();
    const server = http.createServer((request, response) => {
        const body = [];
        request.on('data', (chunk) => body.push(chunk));
        request.on('end', () => {
            const bytes = Buffer.concat(body);
            if (request.method === 'POST' && request.url === '/api/runs') {
                const header = (name) => request.headers[name] ?? null;
                posted.push({ key: header('marrowdeep-key'), signature: header('marrowdeep-signature'), body: bytes.toString('latin1') });
            }
            const onward = http.request({ host: hall.hostname, port: hall.port, method: request.method, path: request.url, headers: request.headers }, (answer) => {
                response.writeHead(answer.statusCode, answer.headers);
                answer.pipe(response);
            });
            onward.on('error', () => response.destroy());
            onward.end(bytes);
        });
    });
    // A WebSocket goes on as bytes both ways, from its request's head on.
    server.on('upgrade', (request, socket, head) => {
        const onward = net.connect(Number(hall.port), hall.hostname, () => {
            const lines = [`${request.method} ${request.url} HTTP/1.1`];
            for (let i = 0; i < request.rawHeaders.length; i += 2) lines.push(`${request.rawHeaders[i]}: ${request.rawHeaders[i + 1]}`);
            onward.write(`${lines.join('\r\n')}\r\n\r\n`);
            onward.write(head);
            socket.pipe(onward).pipe(socket);
        });
        for (const s of [socket, onward]) {
            sockets.add(s);
            s.on('error', () => {
                socket.destroy();
                onward.destroy();
            });
            s.on('close', () => sockets.delete(s));
        }
    });
    return new Promise((resolve) => {
        server.listen(0, '127.0.0.1', () =>
            resolve({
                origin: `http://127.0.0.1:${server.address().port}`,
                posted,
                close: () =>
                    new Promise((done) => {
                        for (const s of sockets) s.destroy();
                        server.close(done);
                        server.closeAllConnections();
                    }),
            }),
        );
    });
}

// Whether `signature` (base64url) verifies with the public key `key` (base64url of the 32 raw
// bytes) over the run-1 text of the id `id`, with node's own Ed25519; both headers must be
// base64url without padding, of 32 and 64 bytes.
export function verifies(key, signature, id) {
    if (!/^[A-Za-z0-9_-]{43}$/.test(key ?? '') || !/^[A-Za-z0-9_-]{86}$/.test(signature ?? '')) return false;
    const publicKey = crypto.createPublicKey({ key: { kty: 'OKP', crv: 'Ed25519', x: key }, format: 'jwk' });
    return crypto.verify(null, Buffer.from(SIGNED + id, 'latin1'), publicKey, Buffer.from(signature, 'base64url'));
}

// The fingerprint the page shows for a key (base64url of its 32 raw bytes).
export const fingerprintOf = (key) =>
    crypto.createHash('sha256').update(Buffer.from(key, 'base64url')).digest('hex').slice(0, 16).match(/.{4}/g).join(' ');

// The hall's record of a run sent with `keys` and no clock (its board's seed `seed`), found by
// its name.
async function recordOf(origin, seed, name) {
    const board = await api(origin, `/api/board?seed=${seed}`);
    const record = (board.runs ?? []).find((r) => r.name === name);
    assert.ok(record, `the board of seed ${seed} holds no run of ${JSON.stringify(name)}: ${JSON.stringify(board)}`);
    return record;
}

// The last run posted through the proxy carries a key and a signature that verify over the id
// the hall gave it; answers its key.
function signedAsTheHall(proxy, id, what) {
    const last = proxy.posted.at(-1);
    assert.ok(last, `${what}: no run was posted`);
    assert.ok(verifies(last.key, last.signature, id), `${what}: the run's headers ${JSON.stringify([last.key, last.signature])} do not verify over the hall's id ${id}`);
    return last.key;
}

// The page's run ids (web/runs/run-id.js) are the ids the hall gives the same runs: a typed seed,
// a clock second, a name of bytes that are not UTF-8 and of control bytes, and a run unfinished.
export async function idsAsTheHall({ origin }) {
    const version = (await api(origin, '/api/health')).version;
    const runs = [
        { keys: 'ids\nn\n3\n1\nddq', clock: null },
        { keys: 'clocked\ny\n1\nq', clock: 1796947100 },
        { keys: '\xff\xfe\x1b[31m\x07\x7f\xc3\xa9\nn\n-4\n2\nsq', clock: null },
        { keys: 'open\nn\n9\n1\nd', clock: null },
    ];
    for (const run of runs) {
        const sent = { ...run, version };
        const response = await fetch(`${origin}/api/runs`, { method: 'POST', headers: { 'Content-Type': 'text/plain' }, body: await encodeRun(sent) });
        const record = await response.json();
        assert.ok(response.status === 201, `ids: the hall answered ${response.status} ${JSON.stringify(record)} for ${JSON.stringify(run.keys)}`);
        assert.equal(await runId(sent), record.id, `ids: the page's id of ${JSON.stringify(run.keys)}`);
    }
}

// Types a game with "Let others watch" off and sends it with "Send to the hall"; answers the
// hall's record. `page` is a puppeteer page.
async function sendGame(page, origin, keys, seed, name) {
    await typeKeys(page, keys, `the game of ${name}`);
    await page.evaluate(() => Array.from(document.querySelectorAll('.note button')).find((b) => b.textContent === 'Send to the hall').click());
    await waitInPage(page, () => window.marrowdeep.said.startsWith('The hall '), 60, `the record of ${name}`);
    return recordOf(origin, seed, name);
}

// What the page's "Export" saves: the file made for the download (the page's policy lets no
// script fetch it back) and the name of the anchor clicked, caught on their way.
async function exported(page) {
    return page.evaluate(async () => {
        const made = [];
        const objectURL = URL.createObjectURL;
        URL.createObjectURL = (blob) => {
            made.push(blob);
            return objectURL.call(URL, blob);
        };
        const caught = new Promise((resolve) => {
            const click = HTMLAnchorElement.prototype.click;
            HTMLAnchorElement.prototype.click = function () {
                HTMLAnchorElement.prototype.click = click;
                resolve(this.download);
            };
        });
        document.querySelector('.your-key').open = true;
        Array.from(document.querySelectorAll('.your-key button')).find((b) => b.textContent === 'Export').click();
        const name = await caught;
        URL.createObjectURL = objectURL;
        return { name, files: made.length, text: await made[0].text() };
    });
}

// Imports the file `text` (named `name`) through "Import"; answers the panel's state after it.
async function imported(page, folder, name, text) {
    const file = path.join(folder, name);
    fs.writeFileSync(file, text, 'latin1');
    // The panel's last sentence is cleared, so that the wait is for the answer to this file.
    await page.evaluate(() => {
        document.querySelector('.your-key').open = true;
        document.querySelector('.your-key .key-said').textContent = '';
    });
    const input = await page.$('input.key-file');
    await input.uploadFile(file);
    await waitInPage(page, () => window.marrowdeep.key.said !== '', 30, `the answer to the key file ${name}`);
    return page.evaluate(() => window.marrowdeep.key);
}

const kept = (page) => page.evaluate((k) => localStorage.getItem(k), KEPT);

// In Chromium, through the proxy (`proxy`, in front of the hall at `hallOrigin`): a run sent from
// the page, and a file of keys whose name has odd bytes, carry the player's key, shown as its
// fingerprint, and signatures that verify over the hall's ids; the key exported and imported into
// another profile signs the next run as the same key, and its live game's end is signed too; a
// damaged key file is refused with a sentence and the key kept stays.
export async function signedRuns({ browser, proxy, hallOrigin, linuxBytes }) {
    const problemsOf = [];
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-key-'));
    const first = await browser.createBrowserContext();
    const second = await browser.createBrowserContext();
    const open = async (context) => {
        const page = await openWatched(context, `${proxy.origin}/?pauses=0`, problemsOf, { what: 'the page', acceptDialogs: true });
        await waitInPage(page, hallShown, 30, 'the hall controls');
        await waitInPage(page, () => window.marrowdeep.key !== null, 30, 'the key');
        return page;
    };
    try {
        const page = await open(first);
        await page.click('.let-watch input'); // the runs go by "Send to the hall"
        const keys = 'signed\nn\n21\n1\nddq';
        const record = await sendGame(page, hallOrigin, keys, 21, 'signed');
        sameBytes(await page.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'signed: the game played');
        const key = signedAsTheHall(proxy, record.id, 'a run sent');
        const shown = await page.evaluate(() => window.marrowdeep.key);
        assert.deepEqual(shown, { fingerprint: fingerprintOf(key), said: '' }, 'the key panel');
        assert.equal(await page.$eval('.your-key .fingerprint', (e) => e.textContent), fingerprintOf(key), 'the fingerprint shown');
        // The hall checked the signature too: its record says so, with the same fingerprint.
        assert.deepEqual([record.signed, record.key], [true, fingerprintOf(key).replace(/ /g, '')], 'the record of a signed run');

        // A file of keys, its name of bytes that are not UTF-8 and of control bytes.
        const odd = '\xff\x1b[7m\x01\xc3\nn\n22\n1\nq';
        fs.writeFileSync(path.join(folder, 'odd.keys'), Buffer.from(odd, 'latin1'));
        await page.evaluate(() => window.marrowdeep.said === '' || document.querySelector('.note button:last-child').click());
        await (await page.$('input.keys-file')).uploadFile(path.join(folder, 'odd.keys'));
        await waitInPage(page, () => window.marrowdeep.said.startsWith('The hall '), 60, 'the record of the odd file');
        const oddRecord = (await api(hallOrigin, '/api/board?seed=22')).runs?.[0];
        assert.ok(oddRecord && oddRecord.keys === odd.length, `the odd file: the board holds ${JSON.stringify(oddRecord)}`);
        assert.equal(signedAsTheHall(proxy, oddRecord.id, 'a file of keys with an odd name'), key, 'the odd file: another key');

        // The key exported, then a damaged copy refused, the key kept unchanged.
        const file = await exported(page);
        assert.equal(file.name, `marrowdeep-key-${fingerprintOf(key).replace(/ /g, '')}.txt`, 'the key file name');
        assert.equal(file.files, 1, 'the export made more than one file');
        assert.ok(file.text.includes('Keep this file: it is your name in every hall.'), `the key file:\n${file.text}`);
        assert.equal(await page.evaluate(() => window.marrowdeep.key.said), 'Keep this file: it is your name in every hall.', 'said at the export');
        const keptBefore = await kept(page);
        const damaged = file.text.replace(/^(Private: .)(.)/m, (_, head, c) => head + (c === 'A' ? 'B' : 'A'));
        assert.notEqual(damaged, file.text);
        for (const [name, text] of [['damaged.txt', damaged], ['cut.txt', file.text.slice(0, 60)], ['other.txt', 'hello\n']]) {
            const refused = await imported(page, folder, name, text);
            assert.deepEqual(refused, { fingerprint: fingerprintOf(key), said: DAMAGED_FILE }, `${name}: the panel`);
            assert.equal(await kept(page), keptBefore, `${name}: the key kept changed`);
        }

        // Another profile: a key of its own, until the file is imported.
        const other = await open(second);
        const own = await other.evaluate(() => window.marrowdeep.key.fingerprint);
        assert.notEqual(own, fingerprintOf(key), "a second profile has the first one's key");
        const taken = await imported(other, folder, file.name, file.text);
        assert.deepEqual(taken, { fingerprint: fingerprintOf(key), said: 'The key of the file is now your key in this browser.' }, 'the import');
        assert.equal(await kept(other), keptBefore, 'the key kept in the second profile');
        // Its live game ends signed: the end's message, read from Chromium's own record of the frames.
        const cdp = await other.createCDPSession();
        const frames = [];
        cdp.on('Network.webSocketFrameSent', (event) => frames.push(event.response.payloadData));
        await cdp.send('Network.enable');
        const liveKeys = 'imported\nn\n23\n1\nddsq';
        await typeKeys(other, liveKeys, 'the live game of the second profile');
        await waitInPage(other, () => window.marrowdeep.live?.state === 'ended', 60, 'the live game kept');
        const liveRun = (await other.evaluate(() => window.marrowdeep.live)).run;
        const ends = frames.filter((f) => f.startsWith('{"end"')).map((f) => JSON.parse(f));
        assert.equal(ends.length, 1, `the live game's ends: ${JSON.stringify(ends)}`);
        assert.ok(ends[0].end === true && ends[0].key === key && verifies(ends[0].key, ends[0].signature, liveRun), `the live end ${JSON.stringify(ends[0])} over ${liveRun}`);
        // And a run sent from its list, signed with the first profile's key.
        await other.click('.let-watch input');
        await other.keyboard.press('Enter');
        await waitInPage(other, () => window.marrowdeep.games === 2 && window.marrowdeep.reading, 30, 'a new game');
        const again = await sendGame(other, hallOrigin, 'again\nn\n24\n1\nq', 24, 'again');
        assert.equal(signedAsTheHall(proxy, again.id, 'a run sent from the second profile'), key, 'the second profile signs with another key');
        await waitInPage(other, settled, 30, 'the page settled');
        reported(problemsOf, 'signed runs');
    } finally {
        await first.close();
        await second.close();
        fs.rmSync(folder, { recursive: true, force: true });
    }
}

// In Chromium with its Ed25519 taken away (as in a browser without it): the key panel says once
// that runs go unsigned and offers no export or import, and a run goes to the hall without the
// two headers, and is kept.
export async function unsignedRuns({ browser, proxy, hallOrigin }) {
    const problemsOf = [];
    const context = await browser.createBrowserContext();
    try {
        const withoutEd25519 = (page) =>
            page.evaluateOnNewDocument(() => {
                const generate = crypto.subtle.generateKey.bind(crypto.subtle);
                crypto.subtle.generateKey = (algorithm, ...rest) =>
                    (algorithm?.name ?? algorithm) === 'Ed25519' ? Promise.reject(new DOMException('Ed25519', 'NotSupportedError')) : generate(algorithm, ...rest);
            });
        const page = await openWatched(context, `${proxy.origin}/?pauses=0`, problemsOf, { what: 'the page', acceptDialogs: true, prepare: withoutEd25519 });
        await waitInPage(page, hallShown, 30, 'the hall controls');
        await waitInPage(page, () => window.marrowdeep.key !== null, 30, 'the key panel');
        await page.click('.let-watch input');
        const panel = await page.evaluate(() => ({ ...window.marrowdeep.key, buttons: document.querySelectorAll('.your-key button').length }));
        const unsigned = 'This browser cannot make an Ed25519 key for this page, so the runs it sends go unsigned.';
        assert.deepEqual(panel, { fingerprint: null, said: unsigned, buttons: 0 }, 'without Ed25519: the key panel');
        const posted = proxy.posted.length;
        const record = await sendGame(page, hallOrigin, 'unsigned\nn\n25\n1\nq', 25, 'unsigned');
        assert.equal(proxy.posted.length, posted + 1, 'without Ed25519: runs posted');
        const last = proxy.posted.at(-1);
        assert.deepEqual([last.key, last.signature], [null, null], 'without Ed25519: the headers');
        assert.equal(record.keys, 'unsigned\nn\n25\n1\nq'.length, 'without Ed25519: the run kept');
        assert.equal(record.signed, false, 'without Ed25519: the record says signed');
        // The board marks it.
        await page.goto(`${proxy.origin}/hall.html?seed=25`);
        await waitInPage(page, () => document.querySelectorAll('#board tbody tr').length > 0, 30, 'the board of seed 25');
        const nameCell = await page.evaluate(() => {
            const td = document.querySelector('#board tbody td.name');
            return { text: td.textContent, mark: td.querySelector('.unsigned')?.textContent ?? null };
        });
        assert.deepEqual(nameCell, { text: 'unsigned not signed', mark: 'not signed' }, 'without Ed25519: the board');
        assert.equal(await page.evaluate(() => localStorage.getItem('marrowdeep.playerKey')), null, 'without Ed25519: a key kept');
        reported(problemsOf, 'unsigned runs');
    } finally {
        await context.close();
    }
}

// In any engine (a driver of drivers.mjs), through the proxy: the page's key signs the run it
// sends, and the signature verifies over the id the hall gave the run.
export async function signedBy(driver, { proxy, hallOrigin, linuxBytes }) {
    // Not the live game's name: that game's end, signed by another profile's key, claimed it.
    const keys = 'signer\nn\n31\n1\nddq';
    await driver.goto(`${proxy.origin}/?pauses=0`);
    await driver.waitFor(() => window.marrowdeep?.reading && window.marrowdeep.key !== null, 30, 'the hall controls and the key');
    // The run goes by "Send to the hall": the page opened again with "Let others watch" off.
    await driver.evaluate(() => localStorage.setItem('marrowdeep.letOthersWatch', 'off'));
    await driver.reload();
    await driver.waitFor(() => window.marrowdeep?.reading && window.marrowdeep.key !== null, 30, 'the page again');
    const { fingerprint } = await driver.evaluate(() => window.marrowdeep.key);
    assert.match(fingerprint ?? '', /^[0-9a-f]{4}( [0-9a-f]{4}){3}$/, 'the key: this browser makes none');
    await driver.type(keys);
    await driver.waitFor(() => window.marrowdeep.ended && window.marrowdeep.writing === 0, 60, 'the end of the game');
    sameBytes(await driver.evaluate(() => window.marrowdeep.transcript), linuxBytes(keys), 'the game sent');
    await driver.evaluate(() => Array.from(document.querySelectorAll('.note button')).find((b) => b.textContent === 'Send to the hall').click());
    await driver.waitFor(() => window.marrowdeep.said.startsWith('The hall '), 60, 'the record of the run sent');
    const record = await recordOf(hallOrigin, 31, 'signer');
    const key = signedAsTheHall(proxy, record.id, 'the run sent');
    assert.equal(fingerprintOf(key), fingerprint, 'the fingerprint shown is not that of the key sent');
}
