// The page's side of the hall, shown only when the page is served by one (api.js): "Send to
// the hall" on each run of the list and when a game ends, the hall's record of a run sent,
// "Today's seed", which answers a new game's seed questions with the day's seed as the player
// would type them, and "Send a keys file", which sends a file of keys (runs/keys-file.js) as a run.
// A game played live (the page ties live/live-player.js to these controls) goes to the hall at its
// end without "Send to the hall". "Your key" (keys/key-panel.js) shows the player's key, which
// signs every run sent.

import { textOf } from '../bytes.js';
import { keyPanel } from '../keys/key-panel.js';
import { signRun } from '../keys/player-key.js';
import { runOfFile } from '../runs/keys-file.js';
import { ENDINGS, MOST_NAME_BYTES, NAME_TOO_LONG, nameBytes } from '../runs/run-facts.js';
import { encodeRun } from '../runs/run-link.js';
import { thousands } from '../thousands.js';
import { board, daily, findHall, rowsOf, sendRun } from './api.js';

const SEED_QUESTION = 'Random Seed?(y/n)\n';
const POLL_MS = 20;

const later = (ms) => new Promise((next) => setTimeout(next, ms));

// What the hall's record says, as one sentence.
export function recordSentence(record, kept) {
    const boss = record.boss ? 'a boss beaten' : 'no boss beaten';
    const ending = ENDINGS[record.ending] ?? record.ending;
    const about = `level ${record.level}, ${thousands(record.experience)} experience, ${ending}, ${boss}, ${thousands(record.keys)} keys`;
    return `${kept ? 'The hall already keeps this run' : 'The hall keeps this run'}: ${about}.`;
}

// `runs` is the page's runs (runs/runs.js); `type(text)` types keys as the keyboard does; `state()`
// answers {games, reading, text}: the games started on the page, whether the game waits for a
// key, and what it wrote.
export async function openHall({ runs, type, state }) {
    const hallVersion = await findHall();
    if (hallVersion === null) return null;
    const keys = await keyPanel({ button: runs.button });

    // The run's key and signature (in `context`, a run's unless told), or null where the
    // browser has no key.
    async function sign(run, context) {
        if (!keys.key) return null;
        try {
            return await signRun(keys.key, run, context);
        } catch {
            return null;
        }
    }

    function boardLink(seed, text) {
        const a = document.createElement('a');
        a.href = seed === null ? 'hall.html' : `hall.html?seed=${encodeURIComponent(seed)}`;
        a.textContent = text;
        return a;
    }

    // The board of a day, its ranked runs and its practice.
    function dayLink(date) {
        const a = document.createElement('a');
        a.href = `hall.html?day=${encodeURIComponent(date)}`;
        a.textContent = "See today's board";
        return a;
    }

    // Sends the link text of a run, signed; the record or the hall's sentence is said.
    async function send(text, signed) {
        runs.say('Sending the run to the hall.');
        const sent = await sendRun(text, signed);
        if (!sent.ok) {
            runs.say(sent.error);
            return null;
        }
        await sayRecord(sent.body, sent.status === 200);
        return sent.body;
    }

    // Says the hall's record of a run, with its place on its seed's board.
    async function sayRecord(record, kept) {
        let sentence = recordSentence(record, kept);
        // The boards hold the best finished run of each name and seed played without a hidden
        // mode.
        const ranks = record.mode === 'plain' && record.ending !== 'unfinished';
        if (!ranks) sentence += ' Only finished runs played without a hidden mode are on the boards.';
        const ranked = ranks ? await board(record.seed, 100) : { ok: false };
        if (ranked.ok) {
            const place = rowsOf(ranked.body).findIndex((row) => row.id === record.id);
            if (place !== -1) sentence += ` It is number ${place + 1} on the board of seed ${record.seed}.`;
        }
        runs.say(sentence, boardLink(record.seed, 'See the board'));
    }

    async function sendListed(run) {
        // The hall refuses a longer name: the page says so without sending.
        if (nameBytes(run.keys) > MOST_NAME_BYTES) {
            runs.say(NAME_TOO_LONG);
            return;
        }
        let text;
        try {
            text = await encodeRun(run);
        } catch {
            runs.say('This browser cannot pack a run, so it cannot send one.');
            return;
        }
        await send(text, await sign(run));
    }

    // Types the day's seed into the game's seed questions, a key each time the game waits for
    // one: n, Enter, the digits, Enter. A game started meanwhile, or an answer the player typed,
    // ends it.
    async function answerSeed(seed) {
        const games = state().games;
        const asked = () => {
            const { text, reading } = state();
            const at = text.indexOf(SEED_QUESTION);
            if (at === -1) return 'not yet';
            if (text.length !== at + SEED_QUESTION.length) return 'past';
            return reading ? 'now' : 'not yet';
        };
        for (let now = asked(); now !== 'now'; now = asked()) {
            if (now === 'past' || state().games !== games || !runs.live) return;
            await later(POLL_MS);
        }
        const keys = ['n', '\r', ...String(seed), '\r'];
        for (const [i, key] of keys.entries()) {
            if (i > 0) {
                while (!state().reading) {
                    if (state().games !== games || !runs.live) return;
                    await later(POLL_MS);
                }
            }
            type(key);
        }
    }

    async function todaysSeed() {
        const day = await daily();
        if (!day.ok) {
            runs.say(day.error);
            return;
        }
        const { seed, date } = day.body;
        const text = state().text;
        if (!runs.live || (text.indexOf(SEED_QUESTION) !== -1 && !text.endsWith(SEED_QUESTION))) {
            if (!runs.newGame(`End this game and start a new one with the seed of ${date}? The game ended goes to the list of runs.`)) return;
        }
        runs.say(
            `The seed of ${date} is ${seed}: it is typed for you once the game asks for a seed. Your first game of it played live is ranked; the others are practice.`,
            dayLink(date),
        );
        await answerSeed(seed);
    }

    const picker = document.createElement('input');
    picker.type = 'file';
    picker.accept = '.keys';
    picker.className = 'keys-file';
    picker.hidden = true;
    picker.addEventListener('change', async () => {
        const file = picker.files[0];
        picker.value = '';
        if (!file) return;
        const text = textOf(new Uint8Array(await file.arrayBuffer()));
        const { run, error } = runOfFile(text, runs.version ?? hallVersion);
        if (error) {
            runs.say(error);
            return;
        }
        await sendListed(run);
    });

    runs.addToBar(
        runs.button("Today's seed", todaysSeed),
        runs.button('Send a keys file', () => picker.click()),
        picker,
        boardLink(null, 'The hall'),
    );
    runs.addRunAction('Send to the hall', sendListed);
    const offer = (run, sentence) => runs.say(sentence, runs.button('Send to the hall', () => sendListed(run)));
    runs.ended = (run, streamed) => {
        if (!streamed) offer(run, 'The run is in the list of runs.');
    };
    // `sayRecord(record)` says the hall's record of a run that went to it; `offer(run, sentence)`
    // says the sentence with "Send to the hall" for the run; `sign(run)` its key and signature
    // (or null); `keys` is "Your key", whose element the page puts last in the bar.
    return { version: hallVersion, sayRecord: (record) => sayRecord(record, false), offer, sign, keys };
}
