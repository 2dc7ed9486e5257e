// The player's live stream: the game recorded on the page is played live on the hall, which
// relays its keys to whoever watches. One WebSocket a game, to /api/live/play on the page's own
// host: the first message is the run so far as a link's text (with the game's token when it goes
// on with a live game begun before; else, where the page has a key, with the player's public key
// and the start's signature as "key" and "signature"), and after the hall's answer each key the game reads goes as
// binary, the keys of one moment in one message; `{"end": true}` when the game ends (with the
// player's public key and the run's signature as "key" and "signature", where the page has a
// key), and the hall answers with its record of the run.
//
// The game never waits on the hall: its keys are sent after it has read them, and while the hall
// cannot be reached they wait here, the socket trying again on its own, later each time, and
// going on from the keys the hall says it holds.

import { bytesOf } from '../bytes.js';
import { LIVE_SIGNED } from '../keys/player-key.js';
import { encodeRun } from '../runs/run-link.js';

export const PATH = '/api/live/play';
export const MOST_MESSAGE = 4096; // the most keys in one message after the first
export const FIRST_WAIT_MS = 500; // the first try again after a drop; each next waits twice as long
export const LONGEST_WAIT_MS = 30000;

// The game reads the clock, if it ever does, when its seed question is answered yes, and asks
// the hero's way of fighting once its seed is settled either way. The hall holds a live game's
// clock from its first message, so the stream opens once the game has read the clock or gone
// past that question.
const FIGHTING_QUESTION = 'Strength(1)/Tactics(2)?';

// Refusals that trying again would not change: the stream of that game stops, the game goes on.
const REFUSED = new Set([1009, 4400, 4401, 4403, 4409, 4413, 4422]);
const ELSEWHERE = 4001; // the game went on from another page

// The address of the player's socket on the page's own host.
export function playAddress(location = window.location) {
    return `${location.protocol === 'https:' ? 'wss:' : 'ws:'}//${location.host}${PATH}`;
}

// One game's stream. `game` is the recorded game (runs/runs.js's recordedGame); `changed()` is
// called whenever what the stream shows changes; `finished(outcome)` once the run is in the hall
// ({record}) or can no longer go there by this stream ({error}); `say(text)` tells the player why
// the stream stopped; `on` whether "Let others watch" is on; `sign(run, context)` answers the run's
// {key, signature} for its end (a run's context) and its start (LIVE_SIGNED), or null to send it
// unsigned.
export function liveStream(game, { changed, finished, say, on = true, sign = null }) {
    const st = {
        state: on ? 'waiting' : 'off', // waiting, connecting, live, retrying, ending, ended, refused, off
        id: game.live?.id ?? null,
        token: game.live?.token ?? null,
        acknowledged: 0, // keys the hall has committed
        sent: 0, // keys sent on the socket open now (counted from the run's start)
        watchers: null,
        record: null,
        trouble: '', // the sentence of the last refusal or error
    };
    let socket = null;
    let wait = FIRST_WAIT_MS;
    let retry = null;
    let flushing = false;
    let opening = false; // the first message is being made
    let endWanted = false;
    let endSent = false;
    let endAsked = false; // end() was called: the end waits for its signature
    let endMessage = JSON.stringify({ end: true });
    let done = false; // ended, refused or moved to another page: nothing more is sent

    function set(state) {
        st.state = state;
        changed();
    }

    const settled = () => game.caughtUp && (!game.recording || game.clock !== null || endWanted || game.text.includes(FIGHTING_QUESTION));

    // Called after every key the game reads and at the game's turns: opens, or sends what waits.
    function nudge() {
        if (done || !on) return;
        if (socket === null && retry === null && !opening) {
            if (settled()) connect();
            return;
        }
        if (st.state === 'live' && !flushing) {
            flushing = true;
            // The keys read in one moment (a paste, a line handed over) go together.
            setTimeout(flush, 0);
        }
    }

    function flush() {
        flushing = false;
        if (st.state !== 'live' || !socket || socket.readyState !== WebSocket.OPEN) return;
        const keys = game.keys;
        while (st.sent < keys.length) {
            const piece = keys.slice(st.sent, st.sent + MOST_MESSAGE);
            socket.send(bytesOf(piece));
            st.sent += piece.length;
        }
        if (endWanted && !endSent) {
            endSent = true;
            socket.send(endMessage);
            set('ending');
        }
    }

    async function connect() {
        set('connecting');
        const run = { keys: game.keys, clock: game.clock, version: game.version };
        let text;
        let signed = null;
        opening = true;
        try {
            text = await encodeRun(run);
        } catch {
            opening = false;
            return refuse('This browser cannot pack a run, so the game is not played live.');
        }
        // A new game's start is signed, so the hall keeps it as the player's even if it is left.
        if (!st.token && sign) signed = await sign(run, LIVE_SIGNED).catch(() => null);
        opening = false;
        if (done || !on) return;
        let s;
        try {
            s = new WebSocket(playAddress());
        } catch {
            // A content policy or a browser that refuses the page its socket.
            return refuse('This browser does not let the page reach its hall, so the game is not played live.');
        }
        s.binaryType = 'arraybuffer';
        socket = s;
        endSent = false;
        s.addEventListener('open', () => {
            const first = { run: text };
            if (st.token) first.token = st.token;
            else if (signed) Object.assign(first, { key: signed.key, signature: signed.signature });
            s.send(JSON.stringify(first));
        });
        s.addEventListener('message', (event) => {
            if (s === socket && typeof event.data === 'string') heard(event.data);
        });
        s.addEventListener('close', (event) => {
            if (s === socket) closed(event.code, event.reason);
        });
    }

    function heard(data) {
        let said;
        try {
            said = JSON.parse(data);
        } catch {
            return;
        }
        if (said === null || typeof said !== 'object') return;
        if (typeof said.id === 'string' && typeof said.token === 'string' && Number.isSafeInteger(said.keys)) {
            st.id = said.id;
            st.token = said.token;
            st.acknowledged = said.keys;
            st.sent = said.keys;
            wait = FIRST_WAIT_MS;
            game.keepLive({ id: st.id, token: st.token });
            set('live');
            flush();
        } else if (Number.isSafeInteger(said.keys)) {
            st.acknowledged = Math.max(st.acknowledged, said.keys);
            changed();
        } else if (Number.isSafeInteger(said.watchers)) {
            st.watchers = said.watchers;
            changed();
        } else if (said.record && typeof said.record === 'object') {
            st.record = said.record;
            stop('ended');
            finished({ record: said.record });
        } else if (typeof said.error === 'string' || said.error === null) {
            // The hall could not keep the run: it closes the socket when trying again is no use,
            // else the end is asked for again after a wait.
            st.trouble = said.error ?? 'The hall could not keep the run.';
            endSent = false;
            changed();
            if (socket) {
                const s = socket;
                setTimeout(() => {
                    if (s !== socket || st.state !== 'ending') return;
                    set('live');
                    flush();
                }, wait);
                wait = Math.min(wait * 2, LONGEST_WAIT_MS);
            }
        }
    }

    function closed(code, reason) {
        socket = null;
        if (done) return;
        if (code === 1000 && endWanted) {
            // The hall ended the game without keeping it: its sentence came before.
            stop('refused');
            finished({ error: st.trouble || 'The hall did not keep the run.' });
            return;
        }
        if (code === ELSEWHERE) {
            stop('refused');
            st.trouble = 'This game went on live from another page, so this one no longer streams it.';
            say(st.trouble);
            finished({ error: st.trouble });
            return;
        }
        if (REFUSED.has(code)) {
            refuse(`The game is no longer played live: ${reason || `the hall refused it (${code}).`}`);
            return;
        }
        if (!on) return;
        // Dropped, the hall stopping or busy: try again later, from the keys the hall holds.
        set('retrying');
        retry = setTimeout(() => {
            retry = null;
            if (!done && on) connect();
        }, wait);
        wait = Math.min(wait * 2, LONGEST_WAIT_MS);
    }

    function refuse(sentence) {
        st.trouble = sentence;
        stop('refused');
        game.keepLive(null);
        say(sentence);
        finished({ error: sentence });
    }

    function stop(state) {
        done = true;
        clearTimeout(retry);
        retry = null;
        if (socket) {
            const s = socket;
            socket = null;
            if (s.readyState <= WebSocket.OPEN) s.close(1000);
        }
        set(state);
    }

    return {
        st,
        nudge,
        // The game has ended: its last keys go, then the end, signed once the signature is made.
        async end() {
            if (done || endAsked) return;
            endAsked = true;
            const run = { keys: game.keys, clock: game.clock, version: game.version };
            const signed = sign ? await sign(run).catch(() => null) : null;
            if (signed) endMessage = JSON.stringify({ end: true, key: signed.key, signature: signed.signature });
            if (done) return;
            endWanted = true;
            if (st.state === 'live') flush();
            else nudge();
        },
        // The game was left unfinished, stored for later: the socket closes, and the game's token,
        // kept with its record, goes on with it.
        leave() {
            if (!done) stop('off');
        },
        // "Let others watch" turned off or on again.
        turn(yes) {
            if (done || on === yes) return;
            on = yes;
            if (!on) {
                clearTimeout(retry);
                retry = null;
                if (socket) {
                    const s = socket;
                    socket = null;
                    s.close(1000);
                }
                set('off');
            } else {
                wait = FIRST_WAIT_MS;
                set('waiting');
                nudge();
            }
        },
        get done() {
            return done;
        },
    };
}
