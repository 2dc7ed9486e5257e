// What the game wrote, kept for the tests and the benchmark: its bytes as one character per byte,
// with "<clear>" for each clear and "<sleep N>" for each pause of N seconds.
//
// The bytes are copied out of the game's memory into stores of a fixed size, a new one when the
// last is full, and made text only when the text is asked for, so a game played again silently
// spends little time on them: a resumed game of 4,600 keys writes some 5 MB. A new buffer for
// each write took a fifth of its replay, and one store doubled as it filled took a third, most of
// it in the fresh memory of each larger store.

import { textOf } from '../bytes.js';

const STORE = 1 << 16;

export function transcript() {
    let stores = []; // {bytes, used}: every store of this game, in order
    let last = null; // the store written to now
    let kept = 0; // the bytes kept in all the stores
    let marks = []; // {at, text}: a mark written after the first `at` bytes
    let made = null; // the text, once asked for, while nothing more is kept

    function clear() {
        // New stores: what the screen still holds of the last game stays as it was.
        last = { bytes: new Uint8Array(STORE), used: 0 };
        stores = [last];
        kept = 0;
        marks = [];
        made = null;
    }
    clear();

    return {
        // Keeps a copy of `bytes` and gives it back. The copy is never written over, so it may be
        // held on to (the screen holds it until it draws).
        keep(bytes) {
            if (last.used + bytes.length > last.bytes.length) {
                last = { bytes: new Uint8Array(Math.max(STORE, bytes.length)), used: 0 };
                stores.push(last);
            }
            last.bytes.set(bytes, last.used);
            last.used += bytes.length;
            kept += bytes.length;
            made = null;
            return last.bytes.subarray(last.used - bytes.length, last.used);
        },
        mark(text) {
            marks.push({ at: kept, text });
            made = null;
        },
        get text() {
            if (made === null) {
                const parts = [];
                let next = 0; // the first mark not yet placed
                let start = 0; // where the store's bytes begin among all kept
                for (const { bytes, used } of stores) {
                    const end = start + used;
                    let from = start;
                    // A mark between two stores goes after the bytes of the first.
                    for (; next < marks.length && marks[next].at <= end; ++next) {
                        parts.push(textOf(bytes.subarray(from - start, marks[next].at - start)), marks[next].text);
                        from = marks[next].at;
                    }
                    parts.push(textOf(bytes.subarray(from - start, used)));
                    start = end;
                }
                made = parts.join('');
            }
            return made;
        },
        clear,
    };
}
