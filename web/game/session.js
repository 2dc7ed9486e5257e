// One game: the game's code (marrowdeep.js and marrowdeep.wasm) started afresh, and the page's
// side of the console it talks to. What the game writes is kept for the transcript and shown,
// each clear and pause as the terminal would have it; what it reads comes from the page's line
// discipline, a byte at a time as the page hands it over, or from a recorded run (runs/replay.js).

import { lineDiscipline } from '../terminal/line-discipline.js';

const CLEAR = new TextEncoder().encode('\x1b[H\x1b[2J\x1b[3J'); // what clear writes for an xterm

// `compiled` is the game's compiled module; `screen` where it is drawn (terminal/screen.js);
// `transcript` keeps what the game wrote (terminal/transcript.js); `pausesTake` whether a pause
// waits its seconds. The rest is for the page's record of the game: `clock()` answers the game's
// clock read, in whole seconds; `read(bytes)` hears every byte the game reads, as it reads it;
// `waits()` hears each time the game waits for a key none has typed yet;
// `started(text)` hears the game's version; `pauseTime(seconds)` may say how long a pause lasts, in
// ms, or null for no time at all, or undefined to leave it to `pausesTake`. `firstScreen`, if not
// null, is the bytes the screen already shows (the build's first screen): what the game gives the
// screen before its first read is held against them and drawn only if it differs. `script` is a
// promise of the game's script having run (marrowdeep.js). `typedBefore`, if not null, is the
// page's line from before the game ({line, take}): its line discipline, which this game goes on
// with, and take(), which answers {bytes, ended}, what it handed over until now.
export function newGame({
    compiled,
    script = Promise.resolve(),
    screen,
    transcript,
    pausesTake,
    clock,
    read,
    waits,
    started,
    pauseTime,
    firstScreen = null,
    typedBefore = null,
}) {
    const g = {
        alive: true,
        ended: false,
        ready: [], // bytes the game may read
        endOfInput: false, // Ctrl-D at the start of a line, not yet read
        waiting: null, // the game's read that waits for a key: {size, resolve}
        onWait: null, // called when the game waits for a key and none is ready
        onStop: null, // called when the game ends, given endedBy
        onKeyMode: null, // called when the game switches between a kept line and single keys
        endedBy: null, // 'end' when the game came to its own end, 'error', or 'stop' from the page
        afterEnd: 'Press Enter for a new game.', // what the end's word says Enter does
        begun: false, // the game's code runs and has come to its first read
        begunAt: null, // when it came there, in performance.now() time
        // Against the first screen shown: null without one, 'pending' until the game's first
        // read, then 'same', or 'different' when the game's output was drawn instead.
        firstScreen: firstScreen ? 'pending' : null,
        get reading() {
            return this.alive && this.waiting !== null && !this.ready.length && !this.endOfInput;
        },
    };

    let pauseMs = 0; // how long the pause under way lasts

    // The game's output before its first read, held against the first screen shown: how many of
    // its bytes it has matched so far, and the pieces held back from the screen, each {clear,
    // bytes}.
    let matched = 0;
    let held = [];
    function drawHeld() {
        g.firstScreen = 'different';
        firstScreen = null;
        for (const piece of held) {
            if (piece.clear) screen.clear(piece.bytes);
            else screen.show(piece.bytes);
        }
        held = [];
    }
    // Whether `bytes` go on the first screen shown, and so are not drawn again.
    function alreadyShown(bytes, clear) {
        if (firstScreen === null) return false;
        const same = matched + bytes.length <= firstScreen.length && bytes.every((b, i) => b === firstScreen[matched + i]);
        if (!same) {
            drawHeld();
            return false;
        }
        matched += bytes.length;
        held.push({ clear, bytes });
        return true;
    }
    // The game's first read: the screen shows what it wrote, or it is drawn now.
    function firstRead() {
        g.begun = true;
        g.begunAt = performance.now();
        if (firstScreen === null) return;
        if (matched === firstScreen.length) {
            g.firstScreen = 'same';
            firstScreen = null;
            held = [];
        } else {
            drawHeld();
        }
    }

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
        if (bytes.length && read) read(bytes);
        resolve(bytes);
    }

    // The game asks for up to `size` bytes: what is ready answers it now, else a replay may hand
    // its next key over; `resolve(bytes)` hears the answer.
    function ask(size, resolve) {
        g.waiting = { size, resolve };
        answer();
        if (!g.reading) return;
        if (waits) waits();
        if (g.onWait) g.onWait();
    }

    // Gives the game bytes it may read, as the line discipline or a replay hands them over.
    g.give = (bytes) => {
        for (const b of bytes) g.ready.push(b);
        answer();
    };

    function endInput() {
        g.endOfInput = true;
        answer();
    }
    let line;
    if (typedBefore) {
        line = typedBefore.line;
        line.attach({ handOver: g.give, endInput });
        const { bytes, ended } = typedBefore.take();
        g.give(bytes);
        if (ended) endInput();
    } else {
        line = lineDiscipline({ show: screen.show, handOver: g.give, endInput });
    }
    g.line = line;

    const console = {
        // `bytes` are the game's memory, good only during the call: the transcript's copy of them
        // is what the screen shows.
        write(bytes) {
            if (!g.alive) return;
            const kept = transcript.keep(bytes);
            if (!alreadyShown(kept, false)) screen.show(kept);
        },
        clear() {
            if (!g.alive) return;
            transcript.mark('<clear>');
            if (!alreadyShown(CLEAR, true)) screen.clear(CLEAR);
        },
        // A pause: whether it takes time, which pauseEnd() then waits for. One of no time at all
        // (a replay at once) is over at once, and the game goes on without stopping.
        pause(seconds) {
            transcript.mark('<sleep ' + seconds + '>');
            let ms = pauseTime ? pauseTime(seconds) : undefined;
            if (ms === undefined) ms = pausesTake ? seconds * 1000 : 0;
            if (ms === null && g.alive) return false;
            screen.flush();
            pauseMs = ms ?? 0;
            return true;
        },
        // A game ended by Ctrl-C in a pause never goes on.
        pauseEnd() {
            return new Promise((resolve) => setTimeout(() => g.alive && resolve(), pauseMs));
        },
        // The bytes ready for the game's read now, or null if it must wait for them. A replay at
        // once hands its next key over here while its turn lasts.
        take(size) {
            if (!g.alive) return null;
            if (!g.begun) firstRead();
            let taken = null;
            ask(size, (bytes) => (taken = bytes));
            if (taken === null) g.waiting = null;
            return taken;
        },
        read(size) {
            if (!g.begun) firstRead();
            screen.flush();
            return new Promise((resolve) => {
                if (g.alive) ask(size, resolve);
            });
        },
        clock() {
            return clock ? clock() : Math.floor(Date.now() / 1000);
        },
        started(bytes) {
            if (started) started(new TextDecoder().decode(bytes));
        },
        keyMode(on) {
            line.setKeyMode(on);
            if (g.onKeyMode) g.onKeyMode(on);
        },
    };

    // Ends the game, if it still runs, with a word of how and of what Enter does next.
    g.stop = (how, next = g.afterEnd) => {
        if (!g.alive) return;
        g.alive = false;
        g.ended = true;
        g.endedBy ??= 'stop';
        screen.show('\r\n\x1b[7m ' + how + ' ' + next + ' \x1b[0m');
        screen.quiet = false;
        screen.flush();
        if (g.onStop) g.onStop(g.endedBy);
    };

    // Runs the game to its end.
    g.run = async () => {
        try {
            await script;
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
            if (g.alive) g.endedBy = 'end';
            g.stop('The game is over.');
        } catch (e) {
            if (g.alive) g.endedBy = 'error';
            g.stop('The game stopped on an error.');
            throw e;
        }
    };
    return g;
}
