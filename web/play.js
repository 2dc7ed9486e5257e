// The page around the game, once its first script (page.js) has made the terminal: the game
// compiled to WebAssembly (marrowdeep.js and marrowdeep.wasm) played on that terminal, which plays
// the part of a Linux terminal for it, the keys that reach it, the page's runs and the hall.
//
// Ctrl-C ends the game at any time, and after the end Enter starts a new one. What the game
// writes shows whenever it waits for a key, pauses or clears, each line end as CR LF. The page's
// first game goes on with the line typed before it started, and starts on the first screen the
// page already shows.
//
// For tests and the benchmark, window.marrowdeep tells what the game wrote (without the echo),
// with "<clear>" for each clear and "<sleep N>" for each pause of N seconds, whether the game is
// over, whether it waits for a key, whether it has started, and when the terminal took its
// latest output. With ?pauses=0 in the address, pauses take no time.

import { afterLoad } from './after-load.js';
import { newGame } from './game/session.js';
import { openHall } from './hall/controls.js';
import { livePlayer } from './live/live-player.js';
import './install.js';
import { openRuns } from './runs/runs.js';
import { echoOf } from './terminal/line-discipline.js';
import { transcript as makeTranscript } from './terminal/transcript.js';

// `early` is what page.js made: {view, screen, keys (the touch keys), compiled, script,
// firstScreen, typedBefore, waiting (keys it left to this), keepsLine(answer)}.
export function play({ view, screen, keys, compiled, script, firstScreen, typedBefore, waiting, keepsLine }) {
    const pausesTake = new URLSearchParams(window.location.search).get('pauses') !== '0';
    const encoder = new TextEncoder();
    let game = null; // the game running now, or the one that ended last
    let games = 0; // games started on this page
    let hall = null; // the hall's controls, once a hall is found to serve the page
    let firstGame = null; // the page's first game, which starts on the first screen the page shows

    const transcript = makeTranscript();
    keepsLine(() => game === null || (game.alive && !game.line.keyMode));

    // Added to what page.js put there (the rows in view and the font's size).
    Object.defineProperties(window.marrowdeep, Object.getOwnPropertyDescriptors({
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
        // When the page's first game came to its first key read, in performance.now() time, or null.
        get readySince() {
            return firstGame?.begunAt ?? null;
        },
        // The first game's output before its first read against the first screen the page showed:
        // 'pending' until that read, then 'same', or 'different' (what the game wrote was drawn);
        // null for a page without a first screen.
        get firstScreen() {
            if (firstGame) return firstGame.firstScreen;
            return firstScreen ? 'pending' : null;
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
    }));

    // Starts a game; `record` has what the page's record of it needs (runs/runs.js). Only the first
    // game starts on the screen the page showed before its script ran, and only a new one goes on
    // with the line typed before it (a game resumed or replayed reads its recorded keys).
    function start({ kind, ...record }) {
        transcript.clear();
        games += 1;
        const first = games === 1;
        game = newGame({
            compiled,
            script,
            screen,
            transcript,
            pausesTake,
            ...record,
            firstScreen: first ? firstScreen : null,
            typedBefore: first && kind === 'new' ? typedBefore : null,
        });
        if (first) firstGame = game;
        game.onKeyMode = keys.update;
        keys.update();
        game.run();
        return game;
    }
    const runs = openRuns({
        play: start,
        screen,
        transcript,
        pausesTake,
        parent: document.querySelector('main'),
        noteAfter: document.getElementById('terminal'),
        focus: view.focus,
    });

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
    runs.open().then(() => {
        // The keys page.js left for this, in their order.
        for (const data of waiting.splice(0)) typed(data);
    });
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
}
