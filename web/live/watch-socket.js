// A watcher's socket to the hall (GET /api/live/ID/watch, a WebSocket of the page's own origin),
// joined again whenever it is lost: at once when the hall let it go for being too slow (4408),
// and after a wait that doubles with each try when the hall went away or is starting again
// (1001, 1006 and the like). Each join begins with the keys so far, so nothing is lost between.
// A game the hall does not have (4404), or a refusal no new try would change, ends the watch.

import { textOf } from '../bytes.js';

const FIRST_WAIT_MS = 250;
const LONGEST_WAIT_MS = 8000;

// The refusals that ending the watch answers: no such game, another site's page, a message
// the hall did not take, a link or a game too long, a version the hall does not play.
const FINAL = new Set([4400, 4403, 4404, 4413, 4422]);

// The address of the socket for the game `id`, on the page's own host.
export function watchAddress(id) {
    const scheme = window.location.protocol === 'https:' ? 'wss:' : 'ws:';
    return `${scheme}//${window.location.host}/api/live/${encodeURIComponent(id)}/watch`;
}

// Watches the game `id`. The hall's messages go to `hear`: joined(run, game) with the keys so
// far as a link's text and the game's listing, keys(text) with more keys (one character per
// byte), watchers(n), end(record), stopped(); and lost(code, reason, retryMs) when the socket
// closed and is joined again after `retryMs`, or refused(code, reason) when the watch is over
// without the game's end.
export function watchSocket(id, hear) {
    let socket = null;
    let tries = 0; // joins that failed since the last that worked
    let timer = null;
    let done = false; // the game's end or stop came, or the hall refused the watch

    function open() {
        timer = null;
        const s = new WebSocket(watchAddress(id));
        socket = s;
        s.binaryType = 'arraybuffer';
        s.addEventListener('message', (event) => {
            if (s !== socket || done) return;
            if (typeof event.data !== 'string') {
                hear.keys(textOf(new Uint8Array(event.data)));
                return;
            }
            let said;
            try {
                said = JSON.parse(event.data);
            } catch {
                return;
            }
            if (!said || typeof said !== 'object') return;
            if (typeof said.run === 'string') {
                tries = 0;
                hear.joined(said.run, said.game ?? null);
            } else if (Number.isInteger(said.watchers)) {
                hear.watchers(said.watchers);
            } else if (said.end && typeof said.end === 'object') {
                done = true;
                hear.end(said.end);
            } else if (said.stopped === true) {
                done = true;
                hear.stopped();
            }
        });
        s.addEventListener('close', (event) => {
            if (s !== socket || done) return;
            socket = null;
            if (FINAL.has(event.code)) {
                done = true;
                hear.refused(event.code, event.reason);
                return;
            }
            const wait = event.code === 4408 ? 0 : Math.min(FIRST_WAIT_MS * 2 ** tries, LONGEST_WAIT_MS);
            tries += 1;
            hear.lost(event.code, event.reason, wait);
            timer = setTimeout(open, wait);
        });
    }

    open();
    return {
        // Stops watching: the socket is closed and never joined again.
        close() {
            done = true;
            if (timer !== null) clearTimeout(timer);
            if (socket) socket.close(1000);
            socket = null;
        },
    };
}
