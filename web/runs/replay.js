// A recorded run played back: the game is fed the bytes it read when the run was played, a key
// at a time whenever it waits for one, with the echo the terminal showed for them. It is one more
// driver of the game's keys, beside the keyboard: the game is the same, so it shows what the
// player saw.
//
// The speed is only how the page answers the game: at the game's own pace (its pauses as long as
// they were, a key each KEY_MS), four times that, or at once, where pauses take no time and
// nothing is drawn until the recorded keys run out.

import { bytesOf } from '../bytes.js';
import { echoBytes } from '../terminal/line-discipline.js';

const KEY_MS = 160;
export const SPEEDS = [
    { name: 'as played', factor: 1 },
    { name: '4 times faster', factor: 0.25 },
    { name: 'at once', factor: 0 },
];
const SLICE_MS = 30; // at once, the page gets its turn this often

// `keys` are the run's bytes, one character per byte; `speed` an index of SPEEDS; `changed()` is
// called whenever what the replay shows of itself changes. Call attach(game) with the game made
// to play it, which must take its pause times from pauseTime().
export function replay({ keys, speed, screen, changed }) {
    let game = null;
    let at = 0; // the next key to hand over
    let playing = true;
    let over = false; // taken over or stopped: nothing more is handed over
    let timer = null;
    let sliceStart = 0;

    const r = {
        get speed() {
            return speed;
        },
        get playing() {
            return playing && !over;
        },
        // Whether recorded keys are still to be handed over.
        get replaying() {
            return !over && at < keys.length;
        },
        get handed() {
            return at;
        },
        get total() {
            return keys.length;
        },
        // A pause's time while recorded keys are handed over (after them the page's own).
        pauseTime(seconds) {
            if (!r.replaying) return undefined;
            const factor = SPEEDS[speed].factor;
            return factor === 0 ? null : seconds * 1000 * factor;
        },
        attach(g) {
            game = g;
            game.onWait = () => next(false);
            screen.quiet = r.replaying && SPEEDS[speed].factor === 0;
        },
        play() {
            playing = true;
            next(false);
            changed();
        },
        pause() {
            playing = false;
            cancel();
            changed();
        },
        setSpeed(index) {
            speed = index;
            screen.quiet = r.replaying && SPEEDS[speed].factor === 0;
            cancel();
            next(false);
            changed();
        },
        // One key, while the replay is paused.
        step() {
            if (!playing) next(true);
        },
        // More keys of a run still being played (a live game watched): handed over as the speed
        // says, as soon as the game waits for them.
        more(text) {
            keys += text;
            next(false);
            changed();
        },
        // No more recorded keys: the player's own keys from here on.
        stop() {
            over = true;
            cancel();
            screen.quiet = false;
            changed();
        },
    };

    function cancel() {
        if (timer !== null) clearTimeout(timer);
        timer = null;
    }

    // The next key: the rest of the line until the game takes keys one by one, then one byte.
    function give() {
        timer = null;
        if (!r.replaying || !game || !game.reading) return;
        let end = at + 1;
        if (!game.line.keyMode) {
            const lineEnd = keys.indexOf('\n', at);
            end = lineEnd === -1 ? keys.length : lineEnd + 1;
        }
        const bytes = bytesOf(keys.slice(at, end));
        at = end;
        if (!r.replaying) {
            screen.quiet = false;
            changed();
        }
        screen.show(echoBytes(bytes));
        game.give(bytes);
    }

    // Hands the next key over when the game waits for it: now if `now`, else as the speed says.
    function next(now) {
        if (!r.replaying || !game || !game.reading || timer !== null) return;
        if (now) {
            give();
        } else if (!playing) {
            return;
        } else if (SPEEDS[speed].factor !== 0) {
            timer = setTimeout(give, KEY_MS * SPEEDS[speed].factor);
        } else if (performance.now() - sliceStart < SLICE_MS) {
            give();
        } else {
            // A long run at once lets the page draw and hear its keys now and then.
            timer = setTimeout(() => {
                sliceStart = performance.now();
                give();
            }, 0);
        }
    }

    return r;
}
