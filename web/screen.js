// The one place that draws: what is to be shown waits here until the game waits for a key or
// pauses, or a key is done with, and then goes to the terminal in one piece. The terminal draws
// the first write after a key at once and any later one on its next turn, so a key's echo and the
// game's answer to it go together.

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

// `view` is the terminal view (terminal-view.js).
export function screen(view) {
    let unshown = [];
    const state = {
        writing: 0, // writes the terminal has not yet taken
        lastWritten: 0, // when the terminal took the latest, in performance.now() time
    };
    return {
        state,
        // Text or bytes to be shown with the next flush.
        show(data) {
            unshown.push(typeof data === 'string' ? encoder.encode(data) : data);
        },
        // Hands everything waiting to the terminal.
        flush() {
            if (!unshown.length) return;
            const data = joined(unshown);
            unshown = [];
            state.writing += 1;
            view.write(data, () => {
                state.writing -= 1;
                state.lastWritten = performance.now();
            });
        },
    };
}
