// The page's runs: every game played on the page is recorded as it goes (record.js), a game left
// unfinished is played again silently when the page opens and goes on where it was left, a game
// that ended joins the list of runs (runs-list.js), and a run of the list or of a link
// (address-link.js) plays back as a replay (replay.js), which the player may take over. The game
// lives in one tab at a time: a tab that lost it to another stops recording it.

import { textOf } from '../bytes.js';
import { addressLink } from './address-link.js';
import { liveLink } from './live-link.js';
import { openRecords } from './record.js';
import { replay as makeReplay, SPEEDS } from './replay.js';
import { endingOf } from './run-facts.js';
import { copyLink, saveFile } from './run-share.js';
import { runsList } from './runs-list.js';
import { runsPanel } from './runs-panel.js';

const now = () => Math.floor(Date.now() / 1000);

// `play(options)` starts a game (game/session.js) on the page's terminal and answers it (its
// `kind` says where the game comes from: 'new', 'resume', 'list' or 'link'); `screen`
// is the page's screen (terminal/screen.js); `transcript` what the game wrote; `pausesTake` whether
// the page's pauses wait (with ?pauses=0 a replay plays at once); `parent` holds the controls, and
// the page's word to the player goes right after `noteAfter`; `focus()` gives the keys back to the
// terminal.
export function openRuns({ play, screen, transcript, pausesTake, parent, noteAfter, focus }) {
    let session = null; // the game on the page, and what the page knows of it
    let version = null; // the game's version, once a game has told it
    let refusedSaid = false;
    let onEnded = null; // hears each game the player played to its end, as a run of the list
    let player = null; // hears each game the page records, as it goes: the hall's live stream

    const panel = runsPanel(parent, noteAfter, {
        newGame,
        replay: (run) => startReplay(run, 'list'),
        copyLink: (run) => copyLink(run, panel.say),
        save: saveFile,
        remove: (run) => list.remove(run),
        removeAll: () => list.removeAll(),
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
    const list = runsList({ records, panel });
    const address = addressLink({ play: (run) => startReplay(run, 'link'), say: panel.say });

    // Writes the game being played, if this tab records it.
    function saveRecord() {
        if (session.recording && !(session.replay && session.replay.replaying)) records.save(session.record);
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
                // The hall's live game streaming it ({id, token}), kept to resume it after a reload.
                live: kind === 'resume' ? (run.live ?? null) : null,
            },
            replay: null,
            // The run the link holds: the recorded one while a replay hands its keys over, else
            // what the game has read.
            link: liveLink(() => (s.replay && s.replay.replaying ? s.run : s.record)),
            game: null,
            recorded: null, // what the live stream sees of it (recordedGame)
        };
        s.recorded = recordedGame(s);
        session = s;
        if (run && run.keys.length) {
            // A game resumed is played again out of sight, without the replay's controls.
            const shown = () => (s === session && kind !== 'resume' ? s.replay : null);
            s.replay = makeReplay({ keys: run.keys, speed, screen, changed: () => panel.showReplay(shown()) });
        }
        s.game = play({
            kind,
            clock() {
                if (s.record.clock === null) {
                    s.record.clock = now();
                    if (s === session) saveRecord();
                }
                return s.record.clock;
            },
            read(bytes) {
                s.record.keys += textOf(bytes);
                if (s !== session) return;
                saveRecord();
                if (s.recording && player) player.grew(s.recorded);
                s.link.refresh();
                if (s.replay && kind !== 'resume') panel.showReplay(s.replay);
            },
            // The game waits for a key with its question on the screen: a live stream waiting
            // for the game's seed to settle may go now.
            waits() {
                if (s === session && s.recording && player) player.grew(s.recorded);
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
        s.link.refresh();
        if (recording && player) player.began(s.recorded);
        return s;
    }

    // A recorded game as the live stream sees it: its run so far, whether the page still records
    // it, and a place in its record for the live game's id and token.
    function recordedGame(s) {
        return {
            get keys() {
                return s.record.keys;
            },
            get clock() {
                return s.record.clock;
            },
            get version() {
                return s.record.version;
            },
            get live() {
                return s.record.live;
            },
            get recording() {
                return s.recording;
            },
            // A game resumed after a reload has read its stored keys again.
            get caughtUp() {
                return s.kind !== 'resume' || !s.run || s.record.keys.length >= s.run.keys.length;
            },
            // What the game has written (the game on the page only).
            get text() {
                return s === session ? transcript.text : '';
            },
            keepLive(live) {
                s.record.live = live;
                if (s === session) saveRecord();
            },
        };
    }

    function ended(s, endedBy) {
        if (s.replay) s.replay.stop();
        if (s === session) panel.showReplay(null);
        if (s.keep) {
            // Left unfinished, stored for later (another tab took it, or the page left it).
            if (player) player.left(s.recorded);
            return;
        }
        if (!s.recording) return;
        s.recording = false;
        const run = list.add(s.record, endedBy === 'end' ? endingOf(transcript.text) : 'stopped');
        // The live stream may take the run to the hall itself.
        const streamed = player ? player.ended(s.recorded, endedBy, run) : false;
        if (endedBy === 'end' && s === session && onEnded) onEnded(run, streamed);
    }

    function newLive() {
        list.endStored();
        address.leave();
        panel.say('');
        start({ run: null, speed: 0, recording: true, kind: 'new' });
        if (!records.kept) records.hold(session.record);
    }

    function resume(stored) {
        address.leave();
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
        list.endStored();
        address.leave();
        s.kind = 'new';
        s.recording = true;
        s.record.started = Date.now();
        s.game.afterEnd = 'Press Enter for a new game.';
        records.hold(s.record);
        panel.showReplay(null);
        list.show();
        if (player) player.began(s.recorded);
    }

    // A new game, once the player agrees to end the one being played; answers whether it began.
    function newGame(question = 'End this game and start a new one? The game ended goes to the list of runs.') {
        if (!window.confirm(question)) return false;
        if (session && session.game.alive && session.recording) session.game.stop('The game was stopped.');
        newLive();
        return true;
    }

    list.show();

    return {
        get link() {
            return session ? session.link.link : null;
        },
        get replaying() {
            return session !== null && session.replay !== null && session.replay.replaying;
        },
        get said() {
            return panel.said;
        },
        // The game's version, once a game has told it.
        get version() {
            return version;
        },
        // Whether the game on the page is one the player plays and the page records.
        get live() {
            return session !== null && session.recording && session.game.alive;
        },
        say: (text, extra) => panel.say(text, extra),
        newGame,
        // More controls, for the hall: beside "New game" (`addToBar`), on each run of the list
        // (`addRunAction(name, action)`), and a word when the player ends a game (`ended(run)`).
        addToBar: (...controls) => panel.addToBar(...controls),
        button: (text, action) => panel.button(text, action),
        addRunAction(name, action) {
            panel.addAction(name, action);
            list.show();
        },
        set ended(hear) {
            onEnded = hear;
        },
        // The live stream: hears each recorded game as it begins (`began(game)`, the game being
        // played now at once), each key it reads (`grew(game)`), its end (`ended(game, endedBy,
        // run)`, which answers whether the stream takes the run to the hall) and a game left
        // unfinished (`left(game)`).
        set player(hear) {
            player = hear;
            if (session && session.recording && session.game.alive) player.began(session.recorded);
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
            const link = await address.open();
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
