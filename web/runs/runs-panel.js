// The page's controls for runs, under the terminal: the replay's controls, "New game" (and any
// control added beside it), and the list of the runs that ended; and the page's word to the player,
// right under the terminal, in room of its own that the terminal's fit leaves it, so that it is
// seen at once and never covers a row of the game. Everything is built with createElement, and
// the names players gave show as text, never as markup.

import { thousands } from '../thousands.js';
import { SPEEDS } from './replay.js';
import { ENDINGS } from './run-facts.js';

function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
}

// `parent` holds the panel, and the page's word goes right after `noteAfter`; `act` has what the controls do: newGame(), and for a run of the list
// replay(run), copyLink(run), save(run), remove(run), then removeAll(); and for the replay shown
// play(), pause(), speed(index), step() and takeOver(). After each the keys go to the terminal
// again (`act.focus()`), so that Enter or a key typed next never presses the control again.
export function runsPanel(parent, noteAfter, act) {
    function button(text, action) {
        const b = element('button', null, text);
        b.type = 'button';
        b.addEventListener('click', () => {
            action();
            act.focus();
        });
        return b;
    }

    const panel = element('section', 'runs');
    const note = element('p', 'note');
    note.setAttribute('role', 'status');
    note.hidden = true;
    const close = button('\u00d7', () => say(''));
    close.setAttribute('aria-label', 'Close');
    function say(text, extra) {
        note.replaceChildren();
        note.hidden = !text;
        if (!text) return;
        note.append(element('span', 'said', text));
        if (extra) note.append(' ', extra);
        note.append(' ', close);
        // Said while the page is scrolled down to the runs, it comes into view.
        note.scrollIntoView({ block: 'nearest' });
    }

    const controls = element('div', 'replay');
    const playButton = button('Pause', () => (playButton.textContent === 'Pause' ? act.pause() : act.play()));
    const speed = element('select');
    speed.setAttribute('aria-label', 'Replay speed');
    SPEEDS.forEach((s, i) => {
        const option = element('option', null, s.name);
        option.value = String(i);
        speed.append(option);
    });
    speed.addEventListener('change', () => {
        act.speed(Number(speed.value));
        act.focus();
    });
    const stepButton = button('One key', () => act.step());
    const progress = element('span', 'progress');
    controls.append(element('span', null, 'Replay:'), playButton, speed, stepButton, button('Take over', () => act.takeOver()), progress);
    controls.hidden = true;

    const bar = element('div', 'run-bar');
    bar.append(button('New game', () => act.newGame()));

    const more = []; // actions added to each run of the list: {name, action}

    const heading = element('h2', null, 'Runs');
    const list = element('ol', 'run-list');
    const empty = element('p', 'empty', 'No run has ended yet.');
    const removeAll = button('Delete all runs', () => act.removeAll());

    panel.append(controls, bar, heading, list, empty, removeAll);
    parent.append(panel);
    noteAfter.after(note);

    return {
        // One sentence for the player, or nothing; `extra` may be an element to show with it.
        say,
        get said() {
            return note.querySelector('.said')?.textContent ?? '';
        },
        // The replay's state: null when none is shown.
        showReplay(r) {
            controls.hidden = r === null || !r.replaying;
            if (controls.hidden) return;
            playButton.textContent = r.playing ? 'Pause' : 'Play';
            stepButton.disabled = r.playing;
            speed.value = String(r.speed);
            progress.textContent = `key ${thousands(r.handed)} of ${thousands(r.total)}`;
        },
        // Controls added to the bar beside "New game".
        addToBar(...controls) {
            bar.append(...controls);
        },
        // A button added to each run of the list, `action(run)` its press; the list is shown
        // again by the next showRuns.
        addAction(name, action) {
            more.push({ name, action });
        },
        button,
        showRuns(runs) {
            list.replaceChildren(
                ...runs.map((run) => {
                    const item = element('li');
                    const when = new Date(run.started).toLocaleString();
                    const seed = run.seed === null ? 'no seed' : `seed ${run.seed}`;
                    const keys = `${thousands(run.keys.length)} keys`;
                    const ending = ENDINGS[run.ending] ?? run.ending;
                    item.append(
                        element('span', 'name', run.name || '(no name)'),
                        element('span', 'about', ` \u00b7 ${seed} \u00b7 ${when} \u00b7 ${ending} \u00b7 ${keys} `),
                        button('Replay', () => act.replay(run)),
                        button('Copy link', () => act.copyLink(run)),
                        button('Save', () => act.save(run)),
                        button('Delete', () => act.remove(run)),
                        ...more.map(({ name, action }) => button(name, () => action(run))),
                    );
                    return item;
                }),
            );
            empty.hidden = runs.length > 0;
            removeAll.hidden = runs.length === 0;
        },
    };
}
