// The one place that draws: what is to be shown waits here until the game waits for a key or
// pauses, or a key is done with, and then goes to the terminal in one piece, which draws it at
// once: a key's echo and the game's answer to it show together.
//
// In quiet mode nothing is drawn: only what came after the latest clear is kept, and it shows
// when the quiet ends. A game played again silently then shows the screen the player left.

const encoder = new TextEncoder();

function joined(pieces) {
    if (pieces.length === 1) return pieces[0];
    const data = new Uint8Array(pieces.reduce((size, piece) => size + piece.length, 0));
    let at = 0;
    for (const piece of pieces) {
        data.set(piece, at);
        at += piece.length;
    }
    return data;
}

// `view` is the terminal view (view.js).
export function screen(view) {
    let unshown = [];
    let quiet = false;
    const state = {
        writing: 0, // writes the terminal has not yet drawn
        lastWritten: 0, // when the terminal drew the latest, in performance.now() time
    };
    return {
        state,
        // Text or bytes to be shown with the next flush.
        show(data) {
            unshown.push(typeof data === 'string' ? encoder.encode(data) : data);
        },
        // A clear, given as the bytes it writes: in quiet mode what waits before it is wiped.
        clear(bytes) {
            if (quiet) unshown = [];
            unshown.push(bytes);
        },
        // Hands everything waiting to the terminal, unless the screen is quiet.
        flush() {
            if (quiet || !unshown.length) return;
            const data = joined(unshown);
            unshown = [];
            state.writing += 1;
            view.write(data, () => {
                state.writing -= 1;
                state.lastWritten = performance.now();
            });
        },
        get quiet() {
            return quiet;
        },
        set quiet(on) {
            quiet = on;
            if (!on) this.flush();
        },
    };
}
