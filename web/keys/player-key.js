// The player's key: an Ed25519 key pair the page makes on its first visit and the browser keeps
// (as JWK, in the page's storage), so that every run the page sends to a hall carries the
// player's public key and a signature: the hall knows the same player from one run to the next,
// whatever name the hero has. The key is written out as a text file, to keep and to take to
// another browser, and read back from one; a browser without Ed25519 sends its runs unsigned.
//
// What is signed is the ASCII text "marrowdeep-run-1 " followed by the run's id as the hall
// writes it (run-id.js); a live game's start signs "marrowdeep-live-1 " and the id of the run
// its first message carries, so that neither signature passes for the other.

import { bytesOf, textOf } from '../bytes.js';
import { runId } from '../runs/run-id.js';

const KEPT = 'marrowdeep.playerKey';
const ED25519 = { name: 'Ed25519' };

export const SIGNED = 'marrowdeep-run-1 ';
export const LIVE_SIGNED = 'marrowdeep-live-1 ';

// The key file: a first line that names it, a sentence for whoever finds it, the fingerprint,
// then the 32-byte public key and the 32-byte private key in base64url.
const FILE_HEAD = 'Marrowdeep player key';
export const KEEP_IT = 'Keep this file: it is your name in every hall.';
const MOST_FILE = 4096; // a key file is about 200 bytes; anything much longer is not one

export const DAMAGED_FILE = 'This file is not a whole Marrowdeep key (it is damaged or another file), so your key is unchanged.';

export function base64url(bytes) {
    return btoa(textOf(bytes)).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

// The bytes of base64url text of `size` bytes, or null.
function unbase64url(text, size) {
    if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length !== Math.ceil((size * 4) / 3)) return null;
    const bytes = bytesOf(atob(text.replace(/-/g, '+').replace(/_/g, '/')));
    // The bits after the last byte must be 0, so that one key has one spelling.
    return bytes.length === size && base64url(bytes) === text ? bytes : null;
}

// The key's fingerprint: the first 16 hex digits of a SHA-256 of the raw public key, in groups
// of four to be read out.
async function fingerprintOf(raw) {
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', raw));
    const hex = Array.from(digest.subarray(0, 8), (b) => b.toString(16).padStart(2, '0')).join('');
    return hex.match(/.{4}/g).join(' ');
}

// The key of a private JWK, with its public half checked against it: a test message signed with
// the one must verify with the other. Throws if anything is wrong.
async function keyOf(jwk) {
    if (jwk?.kty !== 'OKP' || jwk.crv !== 'Ed25519' || typeof jwk.x !== 'string' || typeof jwk.d !== 'string') {
        throw new Error('not an Ed25519 key');
    }
    const raw = unbase64url(jwk.x, 32);
    if (raw === null || unbase64url(jwk.d, 32) === null) throw new Error('not an Ed25519 key');
    const privateKey = await crypto.subtle.importKey('jwk', { kty: 'OKP', crv: 'Ed25519', x: jwk.x, d: jwk.d, ext: true }, ED25519, true, ['sign']);
    const publicKey = await crypto.subtle.importKey('raw', raw, ED25519, true, ['verify']);
    const probe = new TextEncoder().encode(`${SIGNED}key check`);
    const signature = await crypto.subtle.sign(ED25519, privateKey, probe);
    if (!(await crypto.subtle.verify(ED25519, publicKey, signature, probe))) throw new Error('the two halves do not match');
    return { privateKey, raw, x: jwk.x, d: jwk.d, fingerprint: await fingerprintOf(raw) };
}

function readKept() {
    try {
        const text = window.localStorage.getItem(KEPT);
        return text === null ? null : JSON.parse(text);
    } catch {
        return null;
    }
}

// Answers whether the browser kept it.
function keep(key) {
    try {
        window.localStorage.setItem(KEPT, JSON.stringify({ kty: 'OKP', crv: 'Ed25519', x: key.x, d: key.d }));
        return true;
    } catch {
        return false;
    }
}

// The player's key: the one the browser keeps, else a new one, kept. Answers {key, kept} (kept
// false when the browser keeps nothing for the page: the key lasts this visit), or {key: null}
// where the browser cannot make an Ed25519 key.
export async function playerKey() {
    const stored = readKept();
    if (stored) {
        try {
            return { key: await keyOf(stored), kept: true };
        } catch {
            // A kept key this browser cannot read any more: a new one is made below.
        }
    }
    let jwk;
    try {
        const pair = await crypto.subtle.generateKey(ED25519, true, ['sign', 'verify']);
        jwk = await crypto.subtle.exportKey('jwk', pair.privateKey);
    } catch {
        return { key: null, kept: false };
    }
    const key = await keyOf(jwk);
    return { key, kept: keep(key) };
}

// The headers' values for a run signed with `key`: {key, signature}, each in base64url without
// padding. `context` is SIGNED for a run, LIVE_SIGNED for a live game's start.
export async function signRun(key, run, context = SIGNED) {
    const message = new TextEncoder().encode(context + (await runId(run)));
    const signature = new Uint8Array(await crypto.subtle.sign(ED25519, key.privateKey, message));
    return { key: base64url(key.raw), signature: base64url(signature) };
}

// The text of the key's file.
export function keyFile(key) {
    return [FILE_HEAD, KEEP_IT, `Fingerprint: ${key.fingerprint}`, `Public: ${key.x}`, `Private: ${key.d}`, ''].join('\n');
}

// The key of a file's text, kept as the player's key: {key, kept}, or {error} with the sentence
// to show, and then the key kept before is unchanged.
export async function importKeyFile(text) {
    if (text.length > MOST_FILE) return { error: DAMAGED_FILE };
    const lines = text.split(/\r?\n/).map((line) => line.trim());
    while (lines.length && lines[lines.length - 1] === '') lines.pop();
    const field = (name) => {
        const found = lines.filter((line) => line.startsWith(`${name}: `));
        return found.length === 1 ? found[0].slice(name.length + 2) : null;
    };
    const [x, d, fingerprint] = [field('Public'), field('Private'), field('Fingerprint')];
    if (lines[0] !== FILE_HEAD || x === null || d === null || fingerprint === null) return { error: DAMAGED_FILE };
    let key;
    try {
        key = await keyOf({ kty: 'OKP', crv: 'Ed25519', x, d });
    } catch {
        return { error: DAMAGED_FILE };
    }
    if (key.fingerprint !== fingerprint) return { error: DAMAGED_FILE };
    return { key, kept: keep(key) };
}
