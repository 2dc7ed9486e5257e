// A file of keys made into a run. A file the page saved holds the very bytes the game read. A
// terminal's recording of a game (`script -I FILE -c marrowdeep`, or the typed keys alone) holds
// the bytes typed in the terminal, which the terminal's line discipline turned into what the
// game read: Enter is sent as CR and read as a line end, and until the name is read the line is
// kept, so Backspace, Ctrl-U and Ctrl-W mend it and never reach the game. The page's own line
// discipline does the same.

import { bytesOf, textOf } from '../bytes.js';
import { lineDiscipline } from '../terminal/line-discipline.js';
import { nameAndSeed } from './run-facts.js';

// `script` frames the keys it logs with a line before them ("Script started on ...") and one
// after ("Script done on ..."), each its own line.
const SCRIPT_HEAD = /^Script started on [^\n]*\n/;
const SCRIPT_TAIL = /\nScript done on [^\n]*\n?$/;

// Whether the bytes (a string of one character per byte) are typed keys rather than keys read:
// a terminal sends CR for Enter and the game never reads one, so keys with a CR and no line end
// were typed.
export const typedInTerminal = (bytes) => bytes.includes('\r') && !bytes.includes('\n');

// The bytes the game read for keys typed in a terminal: the line is kept until a line with a
// word in it (the name) is handed over, then each key goes as it is; Ctrl-C or Ctrl-\ would
// have ended the game there, and Ctrl-D on an empty line ends the input.
export function keysRead(typed) {
    const read = [];
    const blank = (b) => b === 0x20 || (b >= 0x09 && b <= 0x0d);
    let named = false;
    let over = false;
    const line = lineDiscipline({
        show() {},
        handOver(bytes) {
            read.push(...bytes);
            if (!named && bytes.some((b) => !blank(b))) {
                named = true;
                line.setKeyMode(true);
            }
        },
        endInput() {
            over = true;
        },
    });
    const encoder = { encode: bytesOf };
    for (const ch of typed) {
        if (over || ch === '\x03' || ch === '\x1c') break;
        line.type(ch, encoder);
    }
    return textOf(Uint8Array.from(read));
}

// The run of a file's bytes, with `version` the game's: {run} or {error} with one sentence.
// A game that took its seed from the clock cannot be played again from a file, which holds no
// second.
export function runOfFile(bytes, version) {
    let keys = bytes;
    if (SCRIPT_HEAD.test(bytes)) keys = keysRead(bytes.replace(SCRIPT_HEAD, '').replace(SCRIPT_TAIL, ''));
    else if (typedInTerminal(bytes)) keys = keysRead(bytes);
    if (!keys.length) return { error: 'This file holds no keys.' };
    if (nameAndSeed(keys, null).seed !== nameAndSeed(keys, 1).seed) {
        return { error: 'This game took its seed from the clock, and a file of keys does not hold the second it read, so it cannot be proven.' };
    }
    return { run: { keys, clock: null, version } };
}
