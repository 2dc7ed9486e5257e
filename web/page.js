// The page around the game: a terminal widget that plays the part of a Linux terminal for the
// game compiled to WebAssembly (marrowdeep.js and marrowdeep.wasm).
//
// Like a terminal, the page keeps a line with echo until the game takes the keys one by one
// (after the name): Backspace erases, Ctrl-U erases the line, Ctrl-W a word, Enter hands the
// line over as it ends with a line end, and Ctrl-D at the start of a line is the end of the input.
// Then each key goes to the game as it is typed, with its echo, control keys as ^X. Ctrl-C ends
// the game at any time. What the game writes shows whenever it waits for a key, pauses or clears,
// each line end as CR LF.
//
// For tests and the benchmark, window.marrowdeep tells what the game wrote (without the echo),
// with "<clear>" for each clear and "<sleep N>" for each pause of N seconds, whether the game is
// over, whether it waits for a key, and when the terminal took its latest output. With ?pauses=0
// in the address, pauses take no time.
'use strict';

(() => {
    // The game's code is fetched and compiled while the terminal widget's script loads and runs:
    // this script comes first, and the rest of it waits for the others.
    const compiled = WebAssembly.compileStreaming(fetch('marrowdeep.wasm'));

    document.addEventListener('DOMContentLoaded', () => {
        const COLUMNS = 100; // the scroll list's longest line is 99 characters
        const ROWS = 40; // the tallest screen, the scroll list, has 37 rows and its prompt
        const CLEAR = '\x1b[H\x1b[2J\x1b[3J'; // what clear writes for an xterm
        const ERASE = 0x7f; // what the Backspace key sends
        const pausesTake = new URLSearchParams(window.location.search).get('pauses') !== '0';

        const terminal = new Terminal({
            cols: COLUMNS,
            rows: ROWS,
            convertEol: true,
            scrollback: 1000,
            fontFamily: 'monospace',
            fontSize: 15,
        });
        terminal.open(document.getElementById('terminal'));
        terminal.focus();

        const encoder = new TextEncoder();

        // What tests read of the game in progress.
        const shown = {
            pieces: [], // the game's bytes, as strings of one character per byte, and the marks
            ended: false,
            reading: false, // the game waits for a key and nothing typed is left for it
            lastWritten: 0, // when the terminal took the game's latest output, in performance.now() time
            writing: 0, // pieces of the game's output the terminal has not yet taken
            games: 0, // games started on this page
        };
        window.marrowdeep = {
            get transcript() {
                if (shown.pieces.length > 1) shown.pieces = [shown.pieces.join('')];
                return shown.pieces.length ? shown.pieces[0] : '';
            },
            get ended() {
                return shown.ended;
            },
            get reading() {
                return shown.reading;
            },
            get lastWritten() {
                return shown.lastWritten;
            },
            get writing() {
                return shown.writing;
            },
            get games() {
                return shown.games;
            },
        };

        // What is to be shown waits here until the game waits for a key or pauses, or a key is
        // done with, and then goes to the terminal in one piece. The terminal draws the first piece
        // after a key at once and any later one on its next turn, so a key's echo and the game's
        // answer to it go together.
        let unshown = [];
        function show(data) {
            unshown.push(typeof data === 'string' ? encoder.encode(data) : data);
        }
        function showNow() {
            if (!unshown.length) return;
            let data = unshown[0];
            if (unshown.length > 1) {
                data = new Uint8Array(unshown.reduce((size, piece) => size + piece.length, 0));
                let at = 0;
                for (const piece of unshown) {
                    data.set(piece, at);
                    at += piece.length;
                }
            }
            unshown = [];
            shown.writing += 1;
            terminal.write(data, () => {
                shown.writing -= 1;
                shown.lastWritten = performance.now();
            });
        }

        function keep(bytes) {
            // One character per byte; in parts, as the argument list of fromCharCode has a limit.
            for (let i = 0; i < bytes.length; i += 8192) {
                shown.pieces.push(String.fromCharCode.apply(null, bytes.subarray(i, i + 8192)));
            }
        }

        // How a key shows in the echo: a control key as ^X, Delete as ^?, anything else as itself.
        function echoOf(byte) {
            if (byte === 0x7f) return '^?';
            if (byte < 0x20 && byte !== 0x09) return '^' + String.fromCharCode(byte + 0x40);
            return null;
        }

        // The echo of a key's bytes, a line end shown as CR LF.
        function echoBytes(bytes) {
            const out = [];
            for (const b of bytes) {
                const echo = echoOf(b);
                if (b === 0x0a) out.push(0x0d, 0x0a);
                else if (echo === null) out.push(b);
                else out.push(echo.charCodeAt(0), echo.charCodeAt(1));
            }
            return Uint8Array.from(out);
        }

        // The game running now, or null before the first and after the last.
        let game = null;

        // One game: the page's side of its console, and the keys typed for it.
        function newGame() {
            const g = {
                alive: true,
                keyMode: false,
                line: [], // the line being typed, each entry the bytes of one key and its echo's width
                ready: [], // bytes the game may read
                endOfInput: false, // Ctrl-D at the start of a line, not yet read
                waiting: null, // the game's read that waits for a key: {size, resolve}
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
                    shown.reading = true;
                    return;
                }
                shown.reading = false;
                const resolve = g.waiting.resolve;
                g.waiting = null;
                resolve(bytes);
            }

            function handOver(bytes) {
                for (const b of bytes) g.ready.push(b);
                answer();
            }

            function eraseOne() {
                const key = g.line.pop();
                if (key) show('\b \b'.repeat(key.width));
            }

            // A key typed while the game keeps a line.
            function lineKey(bytes) {
                const first = bytes[0];
                if (bytes.length === 1 && (first === 0x0d || first === 0x0a)) {
                    show('\r\n');
                    const line = g.line.flatMap((key) => key.bytes);
                    g.line = [];
                    handOver([...line, 0x0a]);
                } else if (bytes.length === 1 && first === ERASE) {
                    eraseOne();
                } else if (bytes.length === 1 && first === 0x15) {
                    while (g.line.length) eraseOne();
                } else if (bytes.length === 1 && first === 0x17) {
                    const blank = (key) =>
                        key.bytes.length === 1 && (key.bytes[0] === 0x20 || key.bytes[0] === 0x09);
                    while (g.line.length && blank(g.line[g.line.length - 1])) eraseOne();
                    while (g.line.length && !blank(g.line[g.line.length - 1])) eraseOne();
                } else if (bytes.length === 1 && first === 0x04) {
                    if (g.line.length === 0) {
                        g.endOfInput = true;
                        answer();
                    } else {
                        const line = g.line.flatMap((key) => key.bytes);
                        g.line = [];
                        handOver(line);
                    }
                } else {
                    show(echoBytes(bytes));
                    const width = bytes.length === 1 && echoOf(first) !== null ? 2 : 1;
                    g.line.push({ bytes: Array.from(bytes), width });
                }
            }

            // A key typed while the game takes each key at once.
            function keyModeKey(bytes) {
                const sent = Array.from(bytes, (b) => (b === 0x0d ? 0x0a : b));
                show(echoBytes(sent));
                handOver(sent);
            }

            g.type = (bytes) => {
                if (g.keyMode) keyModeKey(bytes);
                else lineKey(bytes);
            };

            g.console = {
                write(bytes) {
                    if (!g.alive) return;
                    keep(bytes);
                    show(bytes);
                },
                clear() {
                    if (!g.alive) return;
                    shown.pieces.push('<clear>');
                    show(CLEAR);
                },
                pause(seconds) {
                    shown.pieces.push('<sleep ' + seconds + '>');
                    showNow();
                    // A game ended by Ctrl-C in a pause never goes on.
                    return new Promise((resolve) => {
                        setTimeout(() => g.alive && resolve(), pausesTake ? seconds * 1000 : 0);
                    });
                },
                read(size) {
                    showNow();
                    return new Promise((resolve) => {
                        if (!g.alive) return;
                        g.waiting = { size, resolve };
                        answer();
                    });
                },
                keyMode(on) {
                    g.keyMode = on;
                    if (on && g.line.length) {
                        // Keys typed ahead of the switch are the game's now, as in a terminal.
                        const line = g.line.flatMap((key) => key.bytes);
                        g.line = [];
                        handOver(line);
                    }
                },
            };
            return g;
        }

        function gameOver(g, how) {
            if (!g.alive) return;
            g.alive = false;
            shown.ended = true;
            shown.reading = false;
            show('\r\n\x1b[7m ' + how + ' Press Enter for a new game. \x1b[0m');
            showNow();
        }

        async function play() {
            const g = newGame();
            game = g;
            shown.pieces = [];
            shown.ended = false;
            shown.reading = false;
            shown.games += 1;
            try {
                const instance = await createMarrowdeep({
                    page: g.console,
                    instantiateWasm(imports, receive) {
                        compiled
                            .then((module) => WebAssembly.instantiate(module, imports))
                            .then((made) => receive(made));
                        return {};
                    },
                    print: (text) => console.log(text),
                    printErr: (text) => console.error(text),
                });
                try {
                    await instance.ccall('main', 'number', [], [], { async: true });
                    instance._fflush(0);
                } catch (e) {
                    // leave_game ends the game through exit(), which the runtime reports this way.
                    if (!(e && e.name === 'ExitStatus')) throw e;
                }
                gameOver(g, 'The game is over.');
            } catch (e) {
                gameOver(g, 'The game stopped on an error.');
                throw e;
            }
        }

        terminal.onData((data) => {
            const bytes = encoder.encode(data);
            const g = game;
            if (!g || !g.alive) {
                if (bytes.includes(0x0d) && g) play();
                return;
            }
            if (bytes.length === 1 && (bytes[0] === 0x03 || bytes[0] === 0x1c)) {
                show(echoOf(bytes[0]));
                gameOver(g, 'The game was stopped.');
                return;
            }
            if (bytes.length === 1 && bytes[0] === 0x1a) return; // no shell here to stop it for
            // Keys pasted or sent together (an arrow key's ESC [ A) arrive as one piece: the game
            // takes it whole, and a line takes it a character at a time, as each may be erased.
            const waited = g.waiting !== null;
            if (g.keyMode) g.type(bytes);
            else for (const ch of data) g.type(encoder.encode(ch));
            // The echo waits for the game's answer when the key let the game go on (the game
            // shows it when it next waits), and shows now otherwise.
            if (!waited || g.waiting !== null) showNow();
        });

        play();
    });
})();
