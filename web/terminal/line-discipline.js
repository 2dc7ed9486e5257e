// The page's line discipline: what a Linux terminal does with the keys before the game reads them.
//
// Until the game asks for keys one by one (right after the name), the page keeps a line with
// echo: Backspace erases, Ctrl-U erases the line, Ctrl-W a word, Enter hands the line over as it
// ends with a line end, and Ctrl-D at the start of a line is the end of the input. In key mode
// each key goes to the game as it is typed, with its echo, control keys as ^X and Enter as a
// line end.

export const ERASE = 0x7f; // what the Backspace key sends

// How a key shows in the echo: a control key as ^X, Delete as ^?, anything else as itself (null).
export function echoOf(byte) {
    if (byte === 0x7f) return '^?';
    if (byte < 0x20 && byte !== 0x09) return '^' + String.fromCharCode(byte + 0x40);
    return null;
}

// The echo of a key's bytes, a line end shown as CR LF.
export function echoBytes(bytes) {
    const out = [];
    for (const b of bytes) {
        const echo = echoOf(b);
        if (b === 0x0a) out.push(0x0d, 0x0a);
        else if (echo === null) out.push(b);
        else out.push(echo.charCodeAt(0), echo.charCodeAt(1));
    }
    return Uint8Array.from(out);
}

const isBlank = (key) => key.bytes.length === 1 && (key.bytes[0] === 0x20 || key.bytes[0] === 0x09);

// The discipline of one game. `show(bytes or text)` echoes, `handOver(bytes)` gives the game
// bytes it may read, `endInput()` marks the end of the input (Ctrl-D on an empty line).
export function lineDiscipline({ show, handOver, endInput }) {
    let keyMode = false;
    let line = []; // the line being typed, each entry the bytes of one key and its echo's width

    function takeLine() {
        const bytes = line.flatMap((key) => key.bytes);
        line = [];
        return bytes;
    }

    function eraseOne() {
        const key = line.pop();
        if (key) show('\b \b'.repeat(key.width));
    }

    // A key typed while the line is kept.
    function lineKey(bytes) {
        const first = bytes.length === 1 ? bytes[0] : -1;
        if (first === 0x0d || first === 0x0a) {
            show('\r\n');
            handOver([...takeLine(), 0x0a]);
        } else if (first === ERASE) {
            eraseOne();
        } else if (first === 0x15) {
            while (line.length) eraseOne();
        } else if (first === 0x17) {
            while (line.length && isBlank(line[line.length - 1])) eraseOne();
            while (line.length && !isBlank(line[line.length - 1])) eraseOne();
        } else if (first === 0x04) {
            if (line.length === 0) endInput();
            else handOver(takeLine());
        } else {
            show(echoBytes(bytes));
            const width = first !== -1 && echoOf(first) !== null ? 2 : 1;
            line.push({ bytes: Array.from(bytes), width });
        }
    }

    // A key typed in key mode.
    function keyModeKey(bytes) {
        const sent = Array.from(bytes, (b) => (b === 0x0d ? 0x0a : b));
        show(echoBytes(sent));
        handOver(sent);
    }

    return {
        get keyMode() {
            return keyMode;
        },
        // A key's bytes. Keys pasted or sent together (an arrow key's ESC [ A) arrive as one
        // piece: key mode takes it whole, and a kept line a character at a time, as each may be
        // erased.
        type(text, encoder) {
            if (keyMode) keyModeKey(encoder.encode(text));
            else for (const ch of text) lineKey(encoder.encode(ch));
        },
        setKeyMode(on) {
            keyMode = on;
            // Keys typed ahead of the switch are the game's now, as in a terminal.
            if (on && line.length) handOver(takeLine());
        },
        // What the discipline hands over goes to `to` ({handOver, endInput}) from now on: a line
        // kept before its game had started goes on as that game's.
        attach(to) {
            handOver = to.handOver;
            endInput = to.endInput;
        },
    };
}
