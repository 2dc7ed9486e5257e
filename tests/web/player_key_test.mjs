// The player's key under node (web/keys/player-key.js): a run's signature verifies with node's
// own Ed25519 over "marrowdeep-run-1 " and the run's id, and with no other message; the headers'
// values are base64url without padding; a key file read back is the same key; and a file changed
// anywhere that matters, cut short or not a key file is refused with the one sentence.
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import { describe, test } from 'node:test';
import { DAMAGED_FILE, importKeyFile, keyFile, playerKey, signRun } from '../../web/keys/player-key.js';
import { runId } from '../../web/runs/run-id.js';

// Node's public key of the header's value.
const publicKeyOf = (header) => crypto.createPublicKey({ key: { kty: 'OKP', crv: 'Ed25519', x: header }, format: 'jwk' });
const verifies = (signed, message) => crypto.verify(null, Buffer.from(message, 'latin1'), publicKeyOf(signed.key), Buffer.from(signed.signature, 'base64url'));

const runs = [
    { keys: 'hero\nn\n7\n1\nq', clock: null, version: '2.3' },
    { keys: 'clock\ny\n1\nq', clock: 1796947200, version: '2.3' },
    { keys: '\xff\x1b[1m\x7f\0\nn\n5\n1\nddq', clock: -(2 ** 53 - 1), version: 'été' },
];

describe("the player's key", async () => {
    const { key } = await playerKey();

    test('a run signed verifies over the run-1 text and its id, and over nothing else', async () => {
        for (const run of runs) {
            const signed = await signRun(key, run);
            assert.match(signed.key, /^[A-Za-z0-9_-]{43}$/);
            assert.match(signed.signature, /^[A-Za-z0-9_-]{86}$/);
            const id = await runId(run);
            assert.match(id, /^[0-9a-f]{32}$/);
            assert.ok(verifies(signed, `marrowdeep-run-1 ${id}`), `the signature of ${JSON.stringify(run.keys)}`);
            assert.ok(!verifies(signed, `marrowdeep-run-1 ${id.replace(/^./, (c) => (c === '0' ? '1' : '0'))}`));
            assert.ok(!verifies(signed, id));
        }
        // Runs that differ by one key, the clock or the version have different ids.
        const ids = new Set(await Promise.all([...runs, { ...runs[0], keys: 'hero\nn\n7\n1\nw' }, { ...runs[1], clock: 1796947201 }, { ...runs[0], version: '2.4' }].map(runId)));
        assert.equal(ids.size, 6);
    });

    test('the fingerprint is the first 16 hex digits of a SHA-256 of the raw public key, in fours', () => {
        const digest = crypto.createHash('sha256').update(Buffer.from(key.x, 'base64url')).digest('hex');
        assert.equal(key.fingerprint, digest.slice(0, 16).match(/.{4}/g).join(' '));
    });

    test('a key file read back is the same key, and signs as it', async () => {
        const file = keyFile(key);
        assert.ok(file.startsWith('Marrowdeep player key\nKeep this file: it is your name in every hall.\n'), file);
        for (const text of [file, file.replace(/\n/g, '\r\n'), file.trimEnd()]) {
            const taken = await importKeyFile(text);
            assert.equal(taken.error, undefined);
            assert.equal(taken.key.fingerprint, key.fingerprint);
            const signed = await signRun(taken.key, runs[0]);
            assert.equal(signed.key, (await signRun(key, runs[0])).key);
            assert.ok(verifies(signed, `marrowdeep-run-1 ${await runId(runs[0])}`));
        }
    });

    test('a damaged file is refused with a sentence', async () => {
        const file = keyFile(key);
        const other = (await playerKey()).key; // a second key: its halves do not go with the first's
        const damaged = [
            '',
            'hello',
            file.slice(0, file.length / 2),
            file.replace('Marrowdeep player key', 'Marrowdeep player kez'),
            file.replace(/^Private: .*$/m, `Private: ${other.d}`),
            file.replace(/^Public: .*$/m, `Public: ${other.x}`),
            file.replace(/^Fingerprint: .*$/m, `Fingerprint: ${other.fingerprint}`),
            file.replace(/^Fingerprint: .*\n/m, ''),
            `${file}Private: ${key.d}\n`,
            file + 'x'.repeat(5000),
        ];
        // Each character of both halves changed (a base64url letter for another, or for one that
        // is not base64url).
        for (const name of ['Public', 'Private']) {
            const line = new RegExp(`^${name}: (.*)$`, 'm').exec(file);
            const at = line.index + name.length + 2;
            for (let i = 0; i < line[1].length; ++i) {
                for (const c of [line[1][i] === 'A' ? 'B' : 'A', '+']) damaged.push(file.slice(0, at + i) + c + file.slice(at + i + 1));
            }
        }
        for (const text of damaged) assert.deepEqual(await importKeyFile(text), { error: DAMAGED_FILE }, JSON.stringify(text.slice(0, 300)));
    });
});
