// One game: the game's code (marrowdeep.js and marrowdeep.wasm) started afresh, and the page's
// side of the console it talks to. What the game writes is kept for the transcript and shown,
// each clear and pause as the terminal would have it; what it reads comes from the page's line
// discipline, a byte at a time as the page hands it over.

import { lineDiscipline } from './line-discipline.js';

const CLEAR = '\x1b[H\x1b[2J\x1b[3J'; // what clear writes for an xterm

// `compiled` is the game's compiled module; `screen` where it is drawn (screen.js); `transcript`
// keeps what the game wrote (transcript.js); `pausesTake` whether a pause waits its seconds.
export function newGame({ compiled, screen, transcript, pausesTake }) {
    const g = {
        alive: true,
        ended: false,
        ready: [], // bytes the game may read
        endOfInput: false, // Ctrl-D at the start of a line, not yet read
        waiting: null, // the game's read that waits for a key: {size, resolve}
        get reading() {
            return this.alive && this.waiting !== null && !this.ready.length && !this.endOfInput;
        },
    };

    function answer() {
        if (!g.waiting) return;
        let bytes;
        if (g.ready.length) {
            bytes = Uint8Array.from(g.ready.splice(0, g.waiting.size));
        } else if (g.endOfInput) {
            g.endOfInput = false;
            bytes = new Uint8Array(0);
        } else {
            return;
        }
        const resolve = g.waiting.resolve;
        g.waiting = null;
        resolve(bytes);
    }

    const line = lineDiscipline({
        show: screen.show,
        handOver(bytes) {
            for (const b of bytes) g.ready.push(b);
            answer();
        },
        endInput() {
            g.endOfInput = true;
            answer();
        },
    });
    g.line = line;

    const console = {
        write(bytes) {
            if (!g.alive) return;
            transcript.keep(bytes);
            screen.show(bytes);
        },
        clear() {
            if (!g.alive) return;
            transcript.mark('<clear>');
            screen.show(CLEAR);
        },
        pause(seconds) {
            transcript.mark('<sleep ' + seconds + '>');
            screen.flush();
            // A game ended by Ctrl-C in a pause never goes on.
            return new Promise((resolve) => {
                setTimeout(() => g.alive && resolve(), pausesTake ? seconds * 1000 : 0);
            });
        },
        read(size) {
            screen.flush();
            return new Promise((resolve) => {
                if (!g.alive) return;
                g.waiting = { size, resolve };
                answer();
            });
        },
        keyMode(on) {
            line.setKeyMode(on);
        },
    };

    // Ends the game, if it still runs, with a word of how.
    g.stop = (how) => {
        if (!g.alive) return;
        g.alive = false;
        g.ended = true;
        screen.show('\r\n\x1b[7m ' + how + ' Press Enter for a new game. \x1b[0m');
        screen.flush();
    };

    // Runs the game to its end.
    g.run = async () => {
        try {
            const instance = await createMarrowdeep({
                page: console,
                instantiateWasm(imports, receive) {
                    compiled
                        .then((module) => WebAssembly.instantiate(module, imports))
                        .then((made) => receive(made));
                    return {};
                },
                print: (text) => window.console.log(text),
                printErr: (text) => window.console.error(text),
            });
            try {
                await instance.ccall('main', 'number', [], [], { async: true });
                instance._fflush(0);
            } catch (e) {
                // leave_game ends the game through exit(), which the runtime reports this way.
                if (!(e && e.name === 'ExitStatus')) throw e;
            }
            g.stop('The game is over.');
        } catch (e) {
            g.stop('The game stopped on an error.');
            throw e;
        }
    };
    return g;
}
