// The page's first script: the terminal and the keys that reach it, live as soon as it runs. The
// build wrote the game's first screen (the name question) into the page, and the screen starts
// from it; the keys typed, pasted or tapped go into the page's line discipline at once, with its
// echo, as the game will read them. Then it asks for the rest: the game's code (marrowdeep.wasm),
// its script (marrowdeep.js) and the page's game and runs (play.js), which takes the line over and
// hands it to the game when the game asks. Nothing the first screen and its keys need waits for
// those, nor shares the network with them.
//
// For tests and the benchmark, window.marrowdeep is there from now on (play.js adds to it): the
// rows in view, the font's size, the size the terminal takes in a space, and that no game is
// ready yet.

import { compiled } from './game/compile.js';
import { loadGameScript } from './game/game-script.js';
import { sizeFor } from './terminal/fit.js';
import { firstScreenBytes } from './terminal/first-screen.js';
import { layout as makeLayout } from './terminal/layout.js';
import { lineDiscipline } from './terminal/line-discipline.js';
import { readerSwitch } from './terminal/reader-switch.js';
import { screen as makeScreen } from './terminal/screen.js';
import { touchKeys } from './terminal/touch-keys.js';
import { openView } from './terminal/view.js';

const encoder = new TextEncoder();
// Whether the page keeps a line now: play.js answers once it runs; before, the name's line is kept.
let lineKept = () => true;

// The touch keys first, as the terminal's size depends on whether they show.
const panel = document.getElementById('touch-keys');
const keys = touchKeys({
    panel,
    toggle: document.getElementById('keys-toggle'),
    send: (text) => view.input(text),
    lineKept: () => lineKept(),
    lineDone: () => view.focus(),
});
const layout = makeLayout({
    main: document.querySelector('main'),
    screen: document.querySelector('.screen'),
    terminal: document.getElementById('terminal'),
    panel,
});
const terminal = document.getElementById('terminal');
const firstScreen = firstScreenBytes(terminal);
const view = openView(terminal, layout.space(), { first: firstScreen });
layout.watch((space) => view.fit(space));
if (window.matchMedia('(pointer: coarse)').matches) view.keepKeyboardDown();
// What the switch remembers is read once the page's first frame is drawn and the keys are live:
// the browser's storage can be slow to open.
requestAnimationFrame(() =>
    setTimeout(() =>
        readerSwitch(document.getElementById('screen-reader'), (on) => {
            view.screenReader = on;
        }),
    ),
);
const screen = makeScreen(view);

// The line typed before the game: what it hands over waits for the game.
const handed = [];
let ended = false; // Ctrl-D on an empty line
const line = lineDiscipline({
    show: screen.show,
    handOver: (bytes) => handed.push(...bytes),
    endInput: () => (ended = true),
});
const typedBefore = {
    line,
    take() {
        const taken = { bytes: handed.splice(0), ended };
        ended = false;
        return taken;
    },
};

// Keys before play.js runs: into the line, but for the keys that end a game (Ctrl-C, Ctrl-\) or
// would stop it (Ctrl-Z), which wait with every key after them for play.js, in their order.
const waiting = [];
view.onData((data) => {
    if (waiting.length || /[\x03\x1c\x1a]/.test(data)) {
        waiting.push(data);
        return;
    }
    line.type(data, encoder);
    screen.flush();
});

window.marrowdeep = {
    // The terminal's rows in view, as text (a line it wrapped is two rows), and its font size.
    rows: () => view.rows(),
    get fontSize() {
        return view.fontSize;
    },
    // The font size, columns and rows the terminal takes in a box of {width, height} CSS px.
    sizeFor,
    ready: false,
    reading: false,
    firstScreen: firstScreen ? 'pending' : null,
};

const script = loadGameScript();
import('./play.js').then(({ play }) =>
    play({
        view,
        screen,
        keys,
        compiled,
        script,
        firstScreen,
        typedBefore,
        waiting,
        keepsLine(answer) {
            lineKept = answer;
        },
    }),
);
