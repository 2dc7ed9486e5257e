// The game a watcher sees: the player's game played again on this page from its keys, as they
// come from the hall. The keys the hall held when the watcher joined are played at once, with no
// pause and nothing drawn, and the screen shows where the player is; every key after them is
// handed over as soon as the game waits for it, with the game's own pauses. A watcher that has
// fallen behind (keys came that the game has not yet read), or whose tab is hidden, passes over
// the pauses until it has caught up.

import { compiled } from '../game/compile.js';
import { newGame } from '../game/session.js';
import { replay as makeReplay, SPEEDS } from '../runs/replay.js';

const AT_ONCE = SPEEDS.findIndex((speed) => speed.factor === 0);
const CLEAR = new TextEncoder().encode('\x1b[H\x1b[2J\x1b[3J');

// `screen` and `transcript` are the page's (terminal/screen.js, terminal/transcript.js);
// `pausesTake` whether the game's pauses wait (not with ?pauses=0); `said(text)` tells the
// watcher something about the game; `caughtUp()` is called whenever every key come has been
// played.
export function watchedGame({ screen, transcript, pausesTake, said, caughtUp }) {
    let run = null; // {keys, clock, version}: every key come so far, and the game's clock and version
    let game = null;
    let replay = null;
    let ending = null; // the word the game ends with once its last key is played, when the hall has told it
    let waited = 0; // pauses that took their time
    let starts = 0; // games started: one, unless a join brought keys that did not go on from those come

    // A new game for `next`: the old one, if any, ends where it is and its screen is cleared.
    function start(next) {
        if (game) {
            game.onStop = null;
            game.stop('The game is played again from its start.', '');
            screen.clear(CLEAR);
        }
        run = { keys: next.keys, clock: next.clock, version: next.version };
        ending = null;
        starts += 1;
        transcript.clear();
        const r = makeReplay({ keys: next.keys, speed: AT_ONCE, screen, changed });
        const g = newGame({
            compiled,
            screen,
            transcript,
            pausesTake,
            clock: () => (run.clock ?? Math.floor(Date.now() / 1000)),
            started(version) {
                if (run.version && version !== run.version) {
                    said(`The player plays version ${run.version} of the game and this page has ${version}, so what shows here may differ.`);
                }
            },
            // No pause while keys wait to be played or nobody sees the tab.
            pauseTime(seconds) {
                const ms = document.hidden ? null : r.pauseTime(seconds);
                if (ms === undefined ? pausesTake : ms !== null) waited += 1;
                return ms;
            },
        });
        g.afterEnd = '';
        r.attach(g);
        const handOver = g.onWait;
        g.onWait = () => {
            handOver();
            changed();
        };
        replay = r;
        game = g;
        g.run();
    }

    // Whether every key come has been played and the game waits for the next or has ended.
    function settled() {
        return game !== null && !replay.replaying && (game.reading || !game.alive);
    }

    function changed() {
        if (!settled()) return;
        if (ending !== null && game.alive) game.stop(ending, '');
        caughtUp();
    }

    return {
        // The keys so far, as the hall sent them on joining: {keys, clock, version}. Those that go
        // on from the keys already come add to them; any other run is played from its start.
        joined(next) {
            if (run && next.version === run.version && next.clock === run.clock && next.keys.startsWith(run.keys)) {
                const rest = next.keys.slice(run.keys.length);
                run.keys = next.keys;
                if (rest) replay.more(rest);
                return;
            }
            start(next);
        },
        // More keys, as they come.
        more(keys) {
            if (!run) return;
            run.keys += keys;
            replay.more(keys);
        },
        // No more keys will come: the game, once it has played them all, ends with `word` unless
        // it came to its own end.
        over(word) {
            ending = word;
            changed();
        },
        // The run as it has come: {keys, clock, version}, or null before the first.
        get run() {
            return run;
        },
        get starts() {
            return starts;
        },
        get pausesWaited() {
            return waited;
        },
        // Keys come and not yet played.
        get behind() {
            return replay ? replay.total - replay.handed : 0;
        },
        get ended() {
            return game !== null && game.ended;
        },
        get reading() {
            return game !== null && game.reading;
        },
        get settled() {
            return settled();
        },
    };
}
