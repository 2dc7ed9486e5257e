// What the game wrote, kept for the tests and the benchmark: its bytes as one character per byte,
// with "<clear>" for each clear and "<sleep N>" for each pause of N seconds.
//
// The bytes are copied out of the game's memory into one growing store and made text only when
// the text is asked for, so a game played again silently spends no time on them: a resumed game
// of 4,600 keys writes some 7 MB, and a new buffer for each write took a fifth of its replay.

const FIRST_STORE = 1 << 16;

// Bytes as text of one character per byte, in parts, as the argument list of fromCharCode has a
// limit.
function asText(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    return text;
}

export function transcript() {
    let store = new Uint8Array(FIRST_STORE);
    let used = 0;
    let marks = []; // {at, text}: a mark written after the first `at` bytes
    let made = null; // the text, once asked for, while nothing more is kept
    return {
        // Keeps a copy of `bytes` and gives it back. The copy is never written over, so it may be
        // held on to (the screen holds it until it draws).
        keep(bytes) {
            if (used + bytes.length > store.length) {
                // The old store stays as it is for any copy still held from it.
                let size = store.length * 2;
                while (used + bytes.length > size) size *= 2;
                const larger = new Uint8Array(size);
                larger.set(store.subarray(0, used));
                store = larger;
            }
            store.set(bytes, used);
            used += bytes.length;
            made = null;
            return store.subarray(used - bytes.length, used);
        },
        mark(text) {
            marks.push({ at: used, text });
            made = null;
        },
        get text() {
            if (made === null) {
                const parts = [];
                let from = 0;
                for (const { at, text } of marks) {
                    parts.push(asText(store.subarray(from, at)), text);
                    from = at;
                }
                parts.push(asText(store.subarray(from, used)));
                made = parts.join('');
            }
            return made;
        },
        clear() {
            // A new store: what the screen still holds of the last game stays as it was.
            store = new Uint8Array(FIRST_STORE);
            used = 0;
            marks = [];
            made = null;
        },
    };
}
