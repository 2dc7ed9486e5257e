// The link of the game on the page, made again whenever the run it holds has grown.

import { encodeRun } from './run-link.js';
import { pageAddress } from './run-share.js';

// `runOf()` answers the run the link holds now.
export function liveLink(runOf) {
    let link = null;
    let linkKeys = -1; // how many keys the link made last holds
    let making = false;

    // Made once the browser is idle, after the key that grew the run has been answered and drawn
    // (or the page has opened and the game asked its first question): the packing never holds up
    // the game's answer.
    let asked = false;
    const later = (task) => (self.requestIdleCallback ? requestIdleCallback(task, { timeout: 1000 }) : setTimeout(task));
    function refresh() {
        if (asked) return;
        asked = true;
        later(make);
    }

    function make() {
        asked = false;
        const run = runOf();
        if (linkKeys === run.keys.length || making) return;
        making = true;
        const keys = run.keys.length;
        encodeRun(run).then(
            (text) => {
                making = false;
                link = `${pageAddress()}#run=${text}`;
                linkKeys = keys;
                make();
            },
            () => {
                making = false; // a browser without CompressionStream makes no link
            },
        );
    }

    return {
        refresh,
        // The whole address, or null while it is made.
        get link() {
            return linkKeys === runOf().keys.length ? link : null;
        },
    };
}
