// The player's side of the live games on a page served by a hall: each game the page records gets
// its stream (live-play.js) while "Let others watch" is on (live-switch.js), what the stream of
// the game on the page does shows beside "New game" (live-status.js), and a game that ends goes to
// the hall on its stream, whose record is then said as "Send to the hall" says it.

import { liveGames } from '../hall/api.js';
import { liveStream } from './live-play.js';
import { liveStatus } from './live-status.js';
import { watchSwitch } from './live-switch.js';

// How often the count of watchers is asked for while the game is live.
const WATCHERS_EVERY_MS = 5000;

// `runs` is the page's runs (runs/runs.js); `sayRecord(record)` says the hall's record of a run;
// `offer(run, sentence)` says the sentence with "Send to the hall" for the run; `sign(run)` answers
// the run's key and signature for its end, or null.
export function livePlayer({ runs, sayRecord, offer, sign }) {
    const streams = new Map(); // each recorded game's stream
    let current = null; // the stream of the game on the page

    const status = liveStatus({ say: (text, extra) => runs.say(text, extra), button: runs.button });
    const toggle = watchSwitch((on) => {
        for (const stream of streams.values()) stream.turn(on);
    });
    const show = () => status.show(current ? current.st : null);

    function begin(game) {
        let stream = streams.get(game);
        if (stream) return stream;
        let ending = null; // once the game has ended: {shown, run}
        stream = liveStream(game, {
            on: toggle.on,
            sign,
            changed: () => stream === current && show(),
            say: (text) => runs.say(text),
            finished(outcome) {
                streams.delete(game);
                if (!ending || !ending.shown) return;
                if (outcome.record) sayRecord(outcome.record);
                else offer(ending.run, outcome.error);
            },
        });
        stream.ending = (shown, run) => (ending = { shown, run });
        streams.set(game, stream);
        return stream;
    }

    async function countWatchers() {
        const stream = current;
        if (!stream || stream.st.state !== 'live') return;
        const listed = await liveGames();
        if (!listed.ok || !Array.isArray(listed.body.games)) return;
        const game = listed.body.games.find((g) => g && g.id === stream.st.id);
        if (game && Number.isSafeInteger(game.watchers)) {
            stream.st.watchers = game.watchers;
            if (stream === current) show();
        }
    }
    setInterval(countWatchers, WATCHERS_EVERY_MS);

    runs.addToBar(toggle.label, status.element);
    runs.player = {
        began(game) {
            current = begin(game);
            show();
            current.nudge();
        },
        grew(game) {
            streams.get(game)?.nudge();
        },
        // Answers whether the stream takes the run to the hall.
        ended(game, endedBy, run) {
            const stream = streams.get(game);
            if (!stream) return false;
            if (stream.done || !toggle.on || !game.keys.length) {
                stream.leave();
                streams.delete(game);
                return false;
            }
            const shown = endedBy === 'end';
            stream.ending(shown, run);
            if (shown) runs.say('The run goes to the hall on its live stream.');
            stream.end();
            return true;
        },
        left(game) {
            streams.get(game)?.leave();
            streams.delete(game);
        },
    };

    return {
        // For tests: the stream of the game on the page, or null.
        get state() {
            if (!current) return null;
            const st = current.st;
            return {
                id: st.id,
                token: st.token,
                keysAcknowledged: st.acknowledged,
                state: st.state,
                watchers: st.watchers,
                run: st.record ? st.record.id : null,
            };
        },
    };
}
