// The page around the game: a terminal that plays the part of a Linux terminal for the game
// compiled to WebAssembly (marrowdeep.js and marrowdeep.wasm), and the keys that reach it.
//
// Ctrl-C ends the game at any time, and after the end Enter starts a new one. What the game
// writes shows whenever it waits for a key, pauses or clears, each line end as CR LF.
//
// For tests and the benchmark, window.marrowdeep tells what the game wrote (without the echo),
// with "<clear>" for each clear and "<sleep N>" for each pause of N seconds, whether the game is
// over, whether it waits for a key, and when the terminal took its latest output. With ?pauses=0
// in the address, pauses take no time.
//
// The page's input, screen and line discipline start as soon as this module runs, without waiting
// for the game's script or code: the screen starts from the first screen the build wrote into the
// page (the name question), and the keys typed while the game's code comes go into the line
// discipline, which hands the line over once the game asks. The module runs once the page is
// read, before the game's script (deferred after it), so nothing here waits for the document.

import { afterLoad } from './after-load.js';
import { compiled } from './game/compile.js';
import { newGame } from './game/session.js';
import { openHall } from './hall/controls.js';
import { livePlayer } from './live/live-player.js';
import './install.js';
import { openRuns } from './runs/runs.js';
import { layout as makeLayout } from './terminal/layout.js';
import { firstScreenBytes } from './terminal/first-screen.js';
import { echoOf } from './terminal/line-discipline.js';
import { readerSwitch } from './terminal/reader-switch.js';
import { screen as makeScreen } from './terminal/screen.js';
import { touchKeys } from './terminal/touch-keys.js';
import { transcript as makeTranscript } from './terminal/transcript.js';
import { openView } from './terminal/view.js';


const pausesTake = new URLSearchParams(window.location.search).get('pauses') !== '0';
const encoder = new TextEncoder();
let game = null; // the game running now, or the one that ended last
let games = 0; // games started on this page
let hall = null; // the hall's controls, once a hall is found to serve the page
let firstGame = null; // the page's first game, which starts on the first screen the page shows

// The touch keys first, as the terminal's size depends on whether they show.
const panel = document.getElementById('touch-keys');
const keys = touchKeys({
    panel,
    toggle: document.getElementById('keys-toggle'),
    send: (text) => view.input(text),
    lineKept: () => game !== null && game.alive && !game.line.keyMode,
    lineDone: () => view.focus(),
});
const layout = makeLayout({
    main: document.querySelector('main'),
    screen: document.querySelector('.screen'),
    bar: document.querySelector('.bar'),
    panel,
});
const terminal = document.getElementById('terminal');
const firstScreen = firstScreenBytes(terminal);
const view = openView(terminal, layout.space(), firstScreen);
layout.watch((space) => view.fit(space));
if (window.matchMedia('(pointer: coarse)').matches) view.keepKeyboardDown();
readerSwitch(document.getElementById('screen-reader'), (on) => {
    view.screenReader = on;
});
const screen = makeScreen(view);
const transcript = makeTranscript();

window.marrowdeep = {
    get transcript() {
        return transcript.text;
    },
    get ended() {
        return game !== null && game.ended;
    },
    get reading() {
        return game !== null && game.reading;
    },
    // The game's code has started and come to its first key read, and the game is not over.
    get ready() {
        return game !== null && game.alive && game.begun;
    },
    // The first game's output before its first read against the first screen the page showed:
    // 'pending' until that read, then 'same', or 'different' (what the game wrote was drawn);
    // null for a page without a first screen.
    get firstScreen() {
        return firstGame?.firstScreen ?? null;
    },
    get lastWritten() {
        return screen.state.lastWritten;
    },
    get writing() {
        return screen.state.writing;
    },
    get games() {
        return games;
    },
    // The terminal's rows in view, as text (a line it wrapped is two rows), and its font size.
    rows() {
        return view.rows();
    },
    get fontSize() {
        return view.fontSize;
    },
    // The link of the game on the page, as a whole address (null while it is being made);
    // whether a replay still has recorded keys to hand over; the page's word to the player.
    get link() {
        return runs.link;
    },
    get replaying() {
        return runs.replaying;
    },
    get said() {
        return runs.said;
    },
    // The live stream of the game on the page, on a hall: {id, token, keysAcknowledged, state,
    // watchers, run} (live/live-player.js), or null.
    get live() {
        return hall?.live.state ?? null;
    },
    // The player's key, on a hall: {fingerprint (null where the browser has none), said (the
    // key panel's sentence)}, or null.
    get key() {
        return hall?.keys.state ?? null;
    },
};

// Starts a game; `record` has what the page's record of it needs (runs/runs.js).
function play(record) {
    transcript.clear();
    games += 1;
    // Only the first game starts on the screen the page showed before its script ran.
    game = newGame({ compiled, screen, transcript, pausesTake, ...record, firstScreen: games === 1 ? firstScreen : null });
    if (games === 1) firstGame = game;
    game.onKeyMode = keys.update;
    keys.update();
    game.run();
    return game;
}
const runs = openRuns({ play, screen, transcript, pausesTake, parent: document.querySelector('main'), focus: view.focus });

// A key from the keyboard, as the terminal's screen gives it.
function typed(data) {
    const g = game;
    if (!g || !g.alive) {
        if (data.includes('\r') && g) runs.next();
        return;
    }
    if (data === '\x03' || data === '\x1c') {
        screen.show(echoOf(data.charCodeAt(0)));
        g.stop('The game was stopped.');
        keys.update();
        return;
    }
    if (data === '\x1a') return; // no shell here to stop it for
    if (!runs.keyAllowed()) return;
    const waited = g.waiting !== null;
    g.line.type(data, encoder);
    // The echo waits for the game's answer when the key let the game go on (the game shows
    // it when it next waits), and shows now otherwise.
    if (!waited || g.waiting !== null) screen.flush();
}

view.onData(typed);
runs.open();
// A hall that serves the page adds its controls once the page has loaded and the browser is
// idle, out of the first question's way; a page served without one shows none.
afterLoad(async () => {
    hall = await openHall({
        runs,
        type: (text) => view.input(text),
        state: () => ({ games, reading: game !== null && game.reading, text: transcript.text }),
    });
    // The game being played is also played live on the hall.
    if (hall) {
        hall.live = livePlayer({ runs, sayRecord: hall.sayRecord, offer: hall.offer, sign: hall.sign });
        // "Your key" last in the bar, as it opens onto a line of its own.
        runs.addToBar(hall.keys.element);
    }
});
