// A run as the fragment of a link (#run=...), so that no server ever sees it: the link format's
// number, the clock second the game read (if it read one), the game's version and the bytes the
// game read, packed by the browser's own deflate, then a CRC-32 of all that, so that a link
// damaged anywhere is told from a run, all in base64url.
//
// Reading a link never throws: anything wrong with it comes back as one sentence to show.

import { bytesOf, textOf } from '../bytes.js';
import { thousands } from '../thousands.js';

export const FORMAT = 1;
export const MOST_KEYS = 100000; // the most bytes a run of a link may unpack to
export const MOST_TEXT = 65536; // the longest link text read, after #run=

const HAS_CLOCK = 1;

export const DAMAGED = 'This run link is damaged or cut short, so it cannot be played.';
export const TOO_LONG = `This run link is too long to be played: a run holds at most ${thousands(MOST_KEYS)} keys.`;
export const FOREIGN = 'This run link was made by a page that this one cannot read.';

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
});

function crc32(bytes) {
    let c = 0xffffffff;
    for (const b of bytes) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
}

function base64url(bytes) {
    return btoa(textOf(bytes)).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

// The bytes of base64url text, or null if it is not that.
function unbase64url(text) {
    if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) return null;
    const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
    return bytesOf(binary);
}

async function pack(bytes) {
    const stream = new Blob([bytes]).stream().pipeThrough(new CompressionStream('deflate-raw'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
}

// The unpacked bytes, TOO_LONG once they pass `most`, or DAMAGED.
async function unpack(bytes, most) {
    const reader = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate-raw')).getReader();
    const parts = [];
    let size = 0;
    try {
        for (;;) {
            const { done, value } = await reader.read();
            if (done) break;
            size += value.length;
            if (size > most) {
                reader.cancel().catch(() => {});
                return TOO_LONG;
            }
            parts.push(value);
        }
    } catch {
        return DAMAGED;
    }
    const out = new Uint8Array(size);
    let at = 0;
    for (const part of parts) {
        out.set(part, at);
        at += part.length;
    }
    return out;
}

// The text after #run= for a run: {keys (a string, one character per byte), clock (a second or
// null), version}.
export async function encodeRun(run) {
    const version = new TextEncoder().encode(run.version).subarray(0, 255);
    const head = new Uint8Array(2 + (run.clock !== null ? 8 : 0) + 1 + version.length);
    const view = new DataView(head.buffer);
    head[0] = FORMAT;
    head[1] = run.clock !== null ? HAS_CLOCK : 0;
    let at = 2;
    if (run.clock !== null) {
        view.setBigInt64(at, BigInt(run.clock));
        at += 8;
    }
    head[at++] = version.length;
    head.set(version, at);
    const packed = await pack(bytesOf(run.keys));
    const all = new Uint8Array(head.length + packed.length + 4);
    all.set(head);
    all.set(packed, head.length);
    new DataView(all.buffer).setUint32(all.length - 4, crc32(all.subarray(0, all.length - 4)));
    return base64url(all);
}

// The run of the text after #run=, as {run} with the run as encodeRun takes it, or {error} with
// the sentence to show.
export async function decodeRun(text) {
    try {
        if (text.length > MOST_TEXT) return { error: TOO_LONG };
        const whole = unbase64url(text);
        if (whole === null || whole.length < 1) return { error: DAMAGED };
        if (whole[0] !== FORMAT) return { error: FOREIGN };
        if (whole.length < 7 || new DataView(whole.buffer).getUint32(whole.length - 4) !== crc32(whole.subarray(0, whole.length - 4))) {
            return { error: DAMAGED };
        }
        const bytes = whole.subarray(0, whole.length - 4);
        if ((bytes[1] & ~HAS_CLOCK) !== 0) return { error: DAMAGED };
        const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
        let at = 2;
        let clock = null;
        if (bytes[1] & HAS_CLOCK) {
            if (bytes.length < at + 9) return { error: DAMAGED };
            clock = Number(view.getBigInt64(at));
            if (!Number.isSafeInteger(clock)) return { error: DAMAGED };
            at += 8;
        }
        const size = bytes[at++];
        if (bytes.length < at + size) return { error: DAMAGED };
        const version = new TextDecoder('utf-8', { fatal: true }).decode(bytes.subarray(at, at + size));
        const keys = await unpack(bytes.subarray(at + size), MOST_KEYS);
        if (typeof keys === 'string') return { error: keys };
        return { run: { keys: textOf(keys), clock, version } };
    } catch {
        // A version that is not UTF-8, or anything else this reading did not foresee.
        return { error: DAMAGED };
    }
}
