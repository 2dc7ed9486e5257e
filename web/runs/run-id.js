// A run's id as the hall makes it, so that the page knows it before the hall answers: the first
// 16 bytes of a SHA-256, in hexadecimal, over "marrowdeep run" and a line end, then the game's
// version (its UTF-8, at most 255 bytes, as a link holds it), the clock second in decimal (nothing
// when the seed was typed) and the keys, each after its length in bytes and a colon, so that no
// two runs run together into the same bytes.

import { bytesOf } from '../bytes.js';

const LABEL = 'marrowdeep run\n';

// The id of a run {keys (one character per byte), clock (a second or null), version}.
export async function runId(run) {
    const encoder = new TextEncoder();
    const parts = [encoder.encode(LABEL)];
    const version = encoder.encode(run.version).subarray(0, 255);
    const clock = encoder.encode(run.clock === null ? '' : String(run.clock));
    for (const part of [version, clock, bytesOf(run.keys)]) parts.push(encoder.encode(`${part.length}:`), part);
    const framed = new Uint8Array(parts.reduce((size, part) => size + part.length, 0));
    let at = 0;
    for (const part of parts) {
        framed.set(part, at);
        at += part.length;
    }
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', framed));
    return Array.from(digest.subarray(0, 16), (b) => b.toString(16).padStart(2, '0')).join('');
}
