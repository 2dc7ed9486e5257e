// A run's link in the page's address (#run=...): played when the page opens with one or when
// the address changes to one, and taken out of the address once the player leaves its replay.

import { decodeRun } from './run-link.js';

// `play(run)` replays the link's run; `say(sentence)` tells what is wrong with a link.
export function addressLink({ play, say }) {
    // Answers true if the address holds a run, now played, false if there is none, or the
    // sentence that tells what is wrong with it, now shown.
    async function open() {
        const hash = window.location.hash;
        if (!hash.startsWith('#run=')) return false;
        const { run, error } = await decodeRun(hash.slice(5));
        if (error) {
            say(error);
            return error;
        }
        play({ ...run, started: Date.now() });
        return true;
    }

    window.addEventListener('hashchange', () => {
        open();
    });

    return {
        open,
        leave() {
            if (window.location.hash) history.replaceState(null, '', window.location.pathname + window.location.search);
        },
    };
}
