// What the watch page shows around the game watched: the player's hero (as text), the seed, how
// many watch, how the connection to the hall stands, and at the end the record the hall kept,
// with a link that replays the whole run on the game's page. Nothing here is ever markup.

import { ENDINGS } from '../runs/run-facts.js';
import { thousands } from '../thousands.js';

// The words of a record the hall kept: level, experience, ending, boss, keys.
export function recordWords(record) {
    const ending = ENDINGS[record.ending] ?? String(record.ending);
    const boss = record.boss ? 'a boss beaten' : 'no boss beaten';
    return `level ${record.level}, ${thousands(Number(record.experience) || 0)} experience, ${ending}, ${boss}, ${thousands(Number(record.keys) || 0)} keys`;
}

// `name`, `watchers`, `state` and `end` are the page's elements for each.
export function watchView({ name, seed, watchers, state, end }) {
    let count = 0;
    const view = {
        // The game's listing, as the hall gives it on each join.
        game(listing) {
            if (!listing) return;
            name.textContent = typeof listing.name === 'string' && listing.name ? listing.name : '(no name yet)';
            const late = listing.delayed > 0 ? `, shown ${Math.round(listing.delayed / 60)} minutes late` : '';
            seed.textContent = listing.seed === null || listing.seed === undefined ? 'seed not chosen yet' : `seed ${listing.seed}${late}`;
            if (Number.isInteger(listing.watchers)) view.watchers(listing.watchers);
        },
        watchers(n) {
            count = n;
            watchers.textContent = n === 1 ? '1 watching' : `${thousands(n)} watching`;
        },
        get watchersNow() {
            return count;
        },
        // How the watch stands, in a sentence ('' when all is well).
        say(text) {
            state.textContent = text;
        },
        get said() {
            return state.textContent;
        },
        // The game's end: the hall's record of it and the link of its replay (null while made).
        ended(record, link) {
            const words = document.createElement('span');
            words.textContent = `The game is over, and the hall keeps it: ${recordWords(record)}. `;
            end.replaceChildren(words);
            if (link) {
                const a = document.createElement('a');
                a.href = link;
                a.textContent = 'Replay the whole run';
                end.append(a);
            }
            end.hidden = false;
        },
        // The player left the game before its end.
        stopped() {
            end.textContent = 'The player has left this game, which ends here.';
            end.hidden = false;
        },
        get end() {
            return end.hidden ? '' : end.textContent;
        },
    };
    return view;
}
