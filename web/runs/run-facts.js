// What a run's keys tell of it: the hero's name and the seed the game took, how it ended, and a
// file name for it.

import { bytesOf } from '../bytes.js';

const LOST = 'YOU LOSE!'; // what the game writes when the hero falls in a fight
const CLEAR_MARK = '<clear>';

// Each way a run ends, as the page's list of runs and the hall's records and boards word it: a
// game played to its end was quit or its hero fell in a fight; one ended on the page before its
// end was stopped, and the hall calls a run sent before its end unfinished.
export const ENDINGS = { quit: 'quit', fell: 'fell in a fight', stopped: 'stopped', unfinished: 'unfinished' };

// The longest name a hall takes, in bytes, and what the page says of a longer one.
export const MOST_NAME_BYTES = 40;
export const NAME_TOO_LONG = "The hero's name is longer than 40 bytes; the hall takes names of at most 40.";

// How many bytes the hero's name has in a run's keys: the first word, blanks before it skipped.
export function nameBytes(keys) {
    const blank = (c) => c === ' ' || c === '\t' || c === '\n' || c === '\v' || c === '\f' || c === '\r';
    let at = 0;
    while (at < keys.length && blank(keys[at])) at += 1;
    const start = at;
    while (at < keys.length && !blank(keys[at])) at += 1;
    return at - start;
}

// The name and the seed the game took from a run's keys, read as the game reads its line
// answers: the name is the first word, then the answer y takes the clock's second and any other
// answer reads a whole number (0 if it is none), pinned to what the game holds.
export function nameAndSeed(keys, clock) {
    let at = 0;
    const blank = (c) => c === ' ' || c === '\t' || c === '\n' || c === '\v' || c === '\f' || c === '\r';
    const visible = () => {
        while (at < keys.length && blank(keys[at])) at += 1;
        return at < keys.length ? keys[at++] : null;
    };
    const first = visible();
    if (first === null) return { name: '', seed: null };
    let name = first;
    while (at < keys.length && !blank(keys[at])) name += keys[at++];
    name = new TextDecoder().decode(bytesOf(name));
    const answer = visible();
    if (answer === 'y') return { name, seed: clock === null ? null : String(clock) };
    let c = answer === null ? null : visible();
    if (c === null) return { name, seed: null };
    let negative = false;
    if (c === '+' || c === '-') {
        negative = c === '-';
        c = at < keys.length ? keys[at++] : null;
    }
    if (c === null || c < '0' || c > '9') return { name, seed: '0' };
    let digits = c;
    while (at < keys.length && keys[at] >= '0' && keys[at] <= '9') digits += keys[at++];
    const most = (1n << 63n) - 1n;
    let value = BigInt(digits) * (negative ? -1n : 1n);
    if (value > most) value = most;
    if (value < -most - 1n) value = -most - 1n;
    return { name, seed: String(value) };
}

// How a game that came to its end ended, from what it wrote: a fight lost in the tier costs a
// life and the game goes on, so a game that ends on its last screen with a lost fight is a hero
// fallen, and any other end is the player quitting.
export function endingOf(text) {
    return text.indexOf(LOST, text.lastIndexOf(CLEAR_MARK)) !== -1 ? 'fell' : 'quit';
}

// A name fit for a file name.
export function fileName(run) {
    const name = run.name.replace(/[^A-Za-z0-9_-]+/g, '_').slice(0, 40) || 'hero';
    return `marrowdeep-${name}-${run.seed ?? 'clock'}.keys`;
}
