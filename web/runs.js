// The page's runs: every game played on the page is recorded as it goes (record.js), a game left
// unfinished is played again silently when the page opens and goes on where it was left, a game
// that ended joins the list of runs, and a run of the list or of a link (run-link.js) plays back
// as a replay (replay.js), which the player may take over.

import { decodeRun, encodeRun } from './run-link.js';
import { openRecords } from './record.js';
import { replay as makeReplay, SPEEDS } from './replay.js';
import { runsPanel } from './runs-panel.js';

const LOST = 'YOU LOSE!'; // what the game writes when the hero falls in a fight
const CLEAR_MARK = '<clear>';

const now = () => Math.floor(Date.now() / 1000);
const bytesOf = (keys) => Uint8Array.from(keys, (c) => c.charCodeAt(0));

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

// A name fit for a file name.
function fileName(run) {
    const name = run.name.replace(/[^A-Za-z0-9_-]+/g, '_').slice(0, 40) || 'hero';
    return `marrowdeep-${name}-${run.seed ?? 'clock'}.keys`;
}

function pageAddress() {
    return window.location.origin + window.location.pathname;
}

// `play(options)` starts a game (game-session.js) on the page's terminal and answers it; `screen`
// is the page's screen (screen.js); `transcript` what the game wrote; `pausesTake` whether the
// page's pauses wait (with ?pauses=0 a replay plays at once); `parent` holds the controls;
// `focus()` gives the keys back to the terminal.
export function openRuns({ play, screen, transcript, pausesTake, parent, focus }) {
    let session = null; // the game on the page, and what the page knows of it
    let version = null; // the game's version, once a game has told it
    let refusedSaid = false;

    const panel = runsPanel(parent, {
        newGame,
        replay: (run) => startReplay(run, 'list'),
        copyLink,
        save,
        remove: (run) => {
            records.remove(run.id);
            panel.showRuns(records.runs());
        },
        removeAll: () => {
            if (!window.confirm('Delete every run of the list?')) return;
            records.removeAll();
            panel.showRuns(records.runs());
        },
        play: () => session?.replay?.play(),
        pause: () => session?.replay?.pause(),
        speed: (index) => session?.replay?.setSpeed(index),
        step: () => session?.replay?.step(),
        takeOver,
        focus,
    });

    const records = openRecords({
        taken() {
            if (!session || !session.recording) return;
            session.recording = false;
            session.keep = true;
            session.next = 'resume';
            session.game.stop('This game went on in another tab, and this tab no longer records it.', 'Press Enter to take it back.');
        },
        refused() {
            if (refusedSaid) return;
            refusedSaid = true;
            panel.say('The browser refuses this page its storage or has no room left, so this game will not be kept if the page closes.');
        },
    });

    // Writes the game being played, if this tab records it.
    function saveRecord() {
        if (session.recording && !(session.replay && session.replay.replaying)) records.save(session.record);
    }

    // The run a session's link holds: the recorded one while a replay hands its keys over, else
    // what the game has read.
    const linkedRun = (s) => (s.replay && s.replay.replaying ? s.run : s.record);

    // The link of the run on the page, made again whenever its keys grew; null while it is made.
    function refreshLink(s) {
        const run = linkedRun(s);
        if (s.linkKeys === run.keys.length || s.linkMaking) return;
        s.linkMaking = true;
        const keys = run.keys.length;
        encodeRun(run).then(
            (text) => {
                s.linkMaking = false;
                s.link = `${pageAddress()}#run=${text}`;
                s.linkKeys = keys;
                refreshLink(s);
            },
            () => {
                s.linkMaking = false; // a browser without CompressionStream makes no link
            },
        );
    }

    // Starts a game on the page: `run` is a record to play back first (null for none), at `speed`
    // (an index of SPEEDS; at once, silently), `recording` whether the page records this game and
    // `kind` where it comes from.
    function start({ run, speed, recording, kind }) {
        if (session && session.game.alive) {
            session.keep = true;
            session.game.stop('This game was left.');
        }
        refusedSaid = false;
        const s = {
            kind, // 'new', 'resume', 'list' or 'link'
            run,
            recording,
            keep: false, // the game's end is not the run's: another tab or a link took the page
            next: null, // what Enter does once the game is over
            record: {
                keys: '',
                clock: run ? run.clock : null,
                version: kind === 'resume' ? run.version : (version ?? ''),
                started: kind === 'resume' ? run.started : Date.now(),
            },
            replay: null,
            link: null,
            linkKeys: -1,
            linkMaking: false,
            game: null,
        };
        session = s;
        if (run && run.keys.length) {
            // A game resumed is played again out of sight, without the replay's controls.
            const shown = () => (s === session && kind !== 'resume' ? s.replay : null);
            s.replay = makeReplay({ keys: run.keys, speed, screen, changed: () => panel.showReplay(shown()) });
        }
        s.game = play({
            clock() {
                if (s.record.clock === null) {
                    s.record.clock = now();
                    if (s === session) saveRecord();
                }
                return s.record.clock;
            },
            read(bytes) {
                for (const b of bytes) s.record.keys += String.fromCharCode(b);
                if (s !== session) return;
                saveRecord();
                refreshLink(s);
                if (s.replay && kind !== 'resume') panel.showReplay(s.replay);
            },
            started(text) {
                version = text;
                if (kind !== 'resume') s.record.version = text;
                if (s !== session) return;
                // A game played again holds its stored keys until it has read them all again.
                if (s.recording) records.hold(kind === 'resume' ? s.run : s.record);
                if (s.run && s.run.version !== text && kind !== 'resume') {
                    const played = s.run.version || 'unknown';
                    panel.say(`This run was played with version ${played} of the game and this page has ${text}, so it may play differently.`);
                }
            },
            pauseTime: s.replay ? (seconds) => s.replay.pauseTime(seconds) : null,
        });
        if (s.replay) s.replay.attach(s.game);
        s.game.onStop = (endedBy) => ended(s, endedBy);
        panel.showReplay(kind === 'resume' ? null : s.replay);
        refreshLink(s);
        return s;
    }

    // Puts a game that ended into the list of runs, with its name and seed read from its keys.
    function listRun(record, ending) {
        const { name, seed } = nameAndSeed(record.keys, record.clock);
        records.end({ ...record, id: `${record.started}-${Math.random()}`, name, seed, ending });
        panel.showRuns(records.runs());
    }

    function ended(s, endedBy) {
        if (s.replay) s.replay.stop();
        if (s === session) panel.showReplay(null);
        if (s.keep || !s.recording) return;
        let ending = 'stopped';
        if (endedBy === 'end') {
            // A fight lost in the tier costs a life and the game goes on: a game that ends on its
            // last screen with a lost fight is a hero fallen.
            const text = transcript.text;
            ending = text.indexOf(LOST, text.lastIndexOf(CLEAR_MARK)) !== -1 ? 'fell' : 'quit';
        }
        s.recording = false;
        listRun(s.record, ending);
    }

    // A game left unfinished (for a replay, or by another tab) ends, as stopped, before another
    // is recorded in its place.
    function endStored() {
        const stored = records.unfinished();
        if (!stored) return;
        records.hold(stored);
        listRun(stored, 'stopped');
    }

    function newLive() {
        endStored();
        leaveLink();
        panel.say('');
        start({ run: null, speed: 0, recording: true, kind: 'new' });
        if (!records.kept) records.hold(session.record);
    }

    function resume(stored) {
        leaveLink();
        panel.say('');
        start({ run: stored, speed: SPEEDS.length - 1, recording: true, kind: 'resume' });
    }

    function startReplay(run, kind) {
        if (session && session.recording && session.game.alive) {
            // The game being played stays stored, unfinished, for Enter or the next visit.
            session.keep = true;
            records.release();
        }
        panel.say('');
        const s = start({ run, speed: pausesTake ? 0 : SPEEDS.length - 1, recording: false, kind });
        s.game.afterEnd = records.unfinished() ? 'Press Enter to go back to your game.' : 'Press Enter for a new game.';
        return s;
    }

    // The player goes on from here as a new run, recorded from its start.
    function takeOver() {
        const s = session;
        if (!s || s.recording || !s.game.alive) return;
        if (s.replay) s.replay.stop();
        endStored();
        leaveLink();
        s.kind = 'new';
        s.recording = true;
        s.record.started = Date.now();
        s.game.afterEnd = 'Press Enter for a new game.';
        records.hold(s.record);
        panel.showReplay(null);
        panel.showRuns(records.runs());
    }

    function leaveLink() {
        if (window.location.hash) history.replaceState(null, '', window.location.pathname + window.location.search);
    }

    function newGame() {
        if (!window.confirm('End this game and start a new one? The game ended goes to the list of runs.')) return;
        if (session && session.game.alive && session.recording) session.game.stop('The game was stopped.');
        newLive();
    }

    async function copyLink(run) {
        const link = `${pageAddress()}#run=${await encodeRun(run)}`;
        try {
            await navigator.clipboard.writeText(link);
            panel.say('The link of the run is copied.');
        } catch {
            const box = document.createElement('input');
            box.readOnly = true;
            box.value = link;
            panel.say('The link of the run:', box);
            box.select();
        }
    }

    function save(run) {
        const a = document.createElement('a');
        a.href = URL.createObjectURL(new Blob([bytesOf(run.keys)], { type: 'application/octet-stream' }));
        a.download = fileName(run);
        document.body.append(a);
        a.click();
        a.remove();
        setTimeout(() => URL.revokeObjectURL(a.href), 60000);
    }

    // Opens the link in the address, if there is one: answers true if it holds a run, now played,
    // false if there is none, or the sentence that tells what is wrong with it, now shown.
    async function openLink() {
        const hash = window.location.hash;
        if (!hash.startsWith('#run=')) return false;
        const { run, error } = await decodeRun(hash.slice(5));
        if (error) {
            panel.say(error);
            return error;
        }
        startReplay({ ...run, started: Date.now() }, 'link');
        return true;
    }

    window.addEventListener('hashchange', () => {
        openLink();
    });

    panel.showRuns(records.runs());

    return {
        get link() {
            if (!session) return null;
            return session.linkKeys === linkedRun(session).keys.length ? session.link : null;
        },
        get replaying() {
            return session !== null && session.replay !== null && session.replay.replaying;
        },
        get said() {
            return panel.said;
        },
        // Whether a key typed on the page goes to the game now: not while a replay hands keys
        // over, and once they have run out the player takes the game over.
        keyAllowed() {
            if (this.replaying) return false;
            if (session && !session.recording && session.game.alive) takeOver();
            return true;
        },
        // Opens the page: a link in the address, else the game left unfinished, else a new one.
        async open() {
            const link = await openLink();
            if (link === true) return;
            const stored = records.unfinished();
            if (stored) resume(stored);
            else newLive();
            if (link) panel.say(link);
        },
        // Enter after a game's end.
        next() {
            const stored = records.unfinished();
            if (stored && (session.next === 'resume' || (session.kind !== 'new' && session.kind !== 'resume'))) resume(stored);
            else newLive();
        },
    };
}
