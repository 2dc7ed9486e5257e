// The watcher's page: the games played live on the hall (watch.html), kept up to date, and one
// of them watched (watch.html?id=ID). The game watched is the player's own, played again here
// from its keys as the hall relays them (live/watched-game.js), so it shows what the player saw.
//
// For tests, window.marrowdeep tells what the game wrote (as on the game's page, "<clear>" for
// each clear and "<sleep N>" for each pause of N seconds), the terminal's rows, the game
// watched, and how many keys have come that the game has not yet played. With ?pauses=0 in the
// address, pauses take no time.

import './game/compile.js';
import { keepListed } from './live/live-list.js';
import { watchedGame } from './live/watched-game.js';
import { watchSocket } from './live/watch-socket.js';
import { watchView } from './live/watch-view.js';
import { decodeRun, encodeRun } from './runs/run-link.js';
import { layout as makeLayout } from './terminal/layout.js';
import { screen as makeScreen } from './terminal/screen.js';
import { transcript as makeTranscript } from './terminal/transcript.js';
import { openView } from './terminal/view.js';

// What the page says of each way the hall ends a watch without the game's end.
const REFUSED = {
    4404: 'The hall has no live game of this address: it may have ended. The games played now are listed below.',
};

document.addEventListener('DOMContentLoaded', () => {
    const query = new URLSearchParams(window.location.search);
    const pausesTake = query.get('pauses') !== '0';
    const id = query.get('id');
    const listSection = document.getElementById('live-list');
    let list = null;

    function showList() {
        listSection.hidden = false;
        list ??= keepListed({ table: document.getElementById('live-games'), said: document.getElementById('list-said') });
    }

    window.marrowdeep = { watching: null, behind: 0, transcript: '', rows: () => [] };
    if (!id) {
        showList();
        return;
    }

    const watching = document.getElementById('watching');
    watching.hidden = false;
    const panel = document.getElementById('touch-keys');
    const layout = makeLayout({
        main: document.querySelector('main'),
        screen: document.querySelector('.screen'),
        terminal: document.getElementById('terminal'),
        panel,
    });
    const terminal = openView(document.getElementById('terminal'), layout.space());
    layout.watch((space) => terminal.fit(space));
    const screen = makeScreen(terminal);
    const transcript = makeTranscript();
    const view = watchView({
        name: document.getElementById('player'),
        seed: document.getElementById('seed'),
        watchers: document.getElementById('watchers'),
        state: document.getElementById('watch-said'),
        end: document.getElementById('watch-end'),
    });
    const game = watchedGame({ screen, transcript, pausesTake, said: view.say, caughtUp: () => {} });
    // A key typed on the watched screen goes nowhere: the game is the player's.
    terminal.onData(() => {});

    // The hall's messages are taken in the order they came: a join's link is read before any
    // key after it is handed over.
    let chain = Promise.resolve();
    const inOrder = (task) => {
        chain = chain.then(task).catch((error) => console.error(error));
    };
    let waiting = 0; // keys come whose turn in the order has not yet come
    let joins = 0;

    const socket = watchSocket(id, {
        joined(text, listing) {
            joins += 1;
            inOrder(async () => {
                const read = await decodeRun(text);
                if (read.error) {
                    view.say(read.error);
                    socket.close();
                    return;
                }
                view.say('');
                view.game(listing);
                if (listing && typeof listing.name === 'string' && listing.name) document.title = `Marrowdeep: watching ${listing.name}`;
                game.joined(read.run);
            });
        },
        keys(text) {
            waiting += text.length;
            inOrder(() => {
                waiting -= text.length;
                game.more(text);
            });
        },
        watchers: (n) => view.watchers(n),
        end(record) {
            inOrder(async () => {
                const run = game.run;
                const link = run ? `index.html#run=${await encodeRun(run)}` : null;
                game.over('The player ended the game here.');
                view.ended(record, link);
            });
        },
        stopped() {
            inOrder(() => {
                game.over('The player has left this game.');
                view.stopped();
            });
        },
        lost(code, reason, retryMs) {
            const when = retryMs ? `in ${Math.ceil(retryMs / 1000)} s` : 'now';
            view.say(`The connection to the hall was lost${reason ? ` (${reason})` : ''}; joining again ${when}.`);
        },
        refused(code, reason) {
            view.say(REFUSED[code] ?? (reason || `The hall refused this watch (${code}).`));
            if (code === 4404) showList();
        },
    });

    window.marrowdeep = {
        // The game watched, as its address names it.
        watching: id,
        // Keys the hall sent: all of them, and those the game has not yet played.
        get keys() {
            return waiting + (game.run ? game.run.keys.length : 0);
        },
        // Keys the hall sent that the game has not yet played.
        get behind() {
            return waiting + game.behind;
        },
        get transcript() {
            return transcript.text;
        },
        // The terminal's rows in view, as text (a line it wrapped is two rows).
        rows() {
            return terminal.rows();
        },
        get ended() {
            return game.ended;
        },
        get reading() {
            return game.reading;
        },
        get writing() {
            return screen.state.writing;
        },
        get lastWritten() {
            return screen.state.lastWritten;
        },
        // Every key come has been played, the game waits or has ended, and all of it is drawn.
        get settled() {
            return waiting === 0 && game.settled && screen.state.writing === 0;
        },
        // How many times the hall has sent the keys so far (each join, again after a lost one).
        get joins() {
            return joins;
        },
        // How many times the game was started from its first key: once, unless a join brought a
        // run that did not go on from the keys already come.
        get starts() {
            return game.starts;
        },
        // How many of the game's pauses took their time: none while keys waited to be played
        // or the tab was hidden.
        get pausesWaited() {
            return game.pausesWaited;
        },
        get watchers() {
            return view.watchersNow;
        },
        // The page's word on the watch, and the end shown ('' before it).
        get said() {
            return view.said;
        },
        get end() {
            return view.end;
        },
    };
});
