// The touch keys: a panel of the game's keys under the terminal, shown at first on a device whose
// main pointer is a finger and shown or hidden by a button on any device, and, while the page
// keeps a line (the name), a text field for the phone's own keyboard.
//
// A tap sends its key's bytes to the page's input as the keyboard's key would, as the finger
// lifts; the field sends what is typed in it as the same characters typed, a correction as
// Backspaces, and its Enter as Enter.

const ENTER = '\r';
const ERASE = '\x7f'; // what the Backspace key sends

// Each key: what its button carries in data-key, what it shows, and a word of what it does.
// The movement pad comes first, placed as arrows by the page's style.
const KEYS = [
    ['w', '\u2191 w', 'up'],
    ['a', '\u2190 a', 'left'],
    ['s', '\u2193 s', 'down'],
    ['d', '\u2192 d', 'right'],
    ['k', 'k', 'attack'],
    ['K', 'K', 'charge'],
    ['b', 'b', 'status'],
    ['p', 'p', 'tier'],
    ['q', 'q', 'quit'],
    ['x', 'x', 'back'],
    ['y', 'y', 'yes'],
    ['n', 'n', 'no'],
    ['Enter', '\u21b5', 'enter'],
    ['Backspace', '\u232b', 'erase'],
    ...'1234567890-'.split('').map((key) => [key, key, '']),
];

// How far a finger may move, in CSS pixels, between coming down on a key and lifting, for a tap.
const TAP_SLOP = 10;

const bytesOf = (key) => (key === 'Enter' ? ENTER : key === 'Backspace' ? ERASE : key);

// `panel` is the panel's element, `toggle` the button that shows or hides it; `send(text)` hands
// keys to the page's input; `lineKept()` tells whether the page keeps a line; `lineDone()` takes
// the focus back from the field when it hides.
export function touchKeys({ panel, toggle, send, lineKept, lineDone }) {
    // The field and the keys are made the first time the panel shows: a page whose panel stays
    // hidden makes none of them.
    let form = null;
    let field = null;
    function build() {
        form = document.createElement('form');
        form.className = 'line';
        form.hidden = true;
        field = document.createElement('input');
        field.type = 'text';
        field.dataset.line = '';
        field.setAttribute('aria-label', 'Your name');
        field.placeholder = 'Your name, then Enter';
        field.autocomplete = 'off';
        field.setAttribute('autocapitalize', 'off');
        field.setAttribute('autocorrect', 'off');
        field.spellcheck = false;
        field.enterKeyHint = 'send';
        form.append(field);
        // The pad's corners stay empty, so the arrows stand as arrows.
        const keypad = document.createElement('div');
        keypad.className = 'keypad';
        for (const corner of ['left', 'right']) {
            const gap = document.createElement('span');
            gap.className = `pad-corner-${corner}`;
            keypad.append(gap);
        }
        panel.append(form, keypad);

        for (const [key, face, word] of KEYS) {
            const button = document.createElement('button');
            button.type = 'button';
            button.dataset.key = key;
            if (key.length === 1 && 'wasd'.includes(key)) button.className = `pad-${key}`;
            // Its name holds the words it shows: "w up", "Backspace erase", "Enter".
            button.setAttribute('aria-label', word && word !== key.toLowerCase() ? `${key} ${word}` : key);
            // The key and its word are read as two words, as its name says them; a sign of the pad
            // (an arrow) is for the eye alone.
            const top = document.createElement('span');
            const sign = face.length > key.length ? face.slice(0, face.length - key.length).trimEnd() : '';
            if (sign) {
                const drawn = document.createElement('span');
                drawn.setAttribute('aria-hidden', 'true');
                drawn.textContent = sign;
                top.append(drawn, ' ', key);
            } else {
                top.textContent = face;
            }
            button.append(top);
            if (word) {
                const under = document.createElement('small');
                under.textContent = word;
                button.append(' ', under);
            }
            keypad.append(button);
        }

        field.addEventListener('input', sendField);
        form.addEventListener('submit', (event) => {
            event.preventDefault();
            sendLine();
        });
    }

    // What the field held when the terminal last heard from it: the line typed so far.
    let sent = [];

    // Sends what changed in the field since: a Backspace for each character taken away from the
    // end of what it held, then what is new.
    function sendField() {
        const now = Array.from(field.value);
        let same = 0;
        while (same < sent.length && same < now.length && sent[same] === now[same]) ++same;
        const text = ERASE.repeat(sent.length - same) + now.slice(same).join('');
        sent = now;
        if (text) send(text);
    }

    function sendLine() {
        sendField();
        field.value = '';
        sent = [];
        send(ENTER);
    }

    // A key tapped while the field shows goes through the field, so the two stay one line.
    function tapped(key) {
        if (form.hidden) {
            send(bytesOf(key));
        } else if (key === 'Enter') {
            sendLine();
        } else {
            field.value = key === 'Backspace' ? Array.from(field.value).slice(0, -1).join('') : field.value + key;
            sendField();
        }
    }

    // The focus stays where it was (the terminal or the field), so a tap never raises the phone's
    // keyboard and never closes it while the name is typed, and the keyboard's keys still go on.
    const keepFocus = (event) => {
        if (event.target.closest('button')) event.preventDefault();
    };
    panel.addEventListener('mousedown', keepFocus);
    toggle.addEventListener('mousedown', keepFocus);
    panel.addEventListener('click', (event) => {
        const button = event.target.closest('button[data-key]');
        if (button) tapped(button.dataset.key);
    });

    // A finger's tap answers as the finger lifts, not when the browser makes a click of it some
    // milliseconds later; that click is then cancelled, so the key goes once. A touch that moved
    // further than a tap does, or that the browser took for a scroll (its end can then not be
    // cancelled), is no tap, and is left to the browser.
    const touches = new Map(); // where each finger on a key came down, by its identifier
    panel.addEventListener(
        'touchstart',
        (event) => {
            for (const t of event.changedTouches) touches.set(t.identifier, [t.clientX, t.clientY]);
        },
        { passive: true },
    );
    panel.addEventListener('touchcancel', (event) => {
        for (const t of event.changedTouches) touches.delete(t.identifier);
    });
    panel.addEventListener('touchend', (event) => {
        for (const t of event.changedTouches) {
            const down = touches.get(t.identifier);
            touches.delete(t.identifier);
            const button = t.target instanceof Element && t.target.closest('button[data-key]');
            if (!button || !down || !event.cancelable) continue;
            if (Math.abs(t.clientX - down[0]) > TAP_SLOP || Math.abs(t.clientY - down[1]) > TAP_SLOP) continue;
            event.preventDefault();
            tapped(button.dataset.key);
        }
    });

    function show(on) {
        if (on && !form) {
            build();
            update();
        }
        panel.hidden = !on;
        toggle.setAttribute('aria-pressed', String(on));
    }
    toggle.addEventListener('click', () => show(panel.hidden));

    // Shows the field while the page keeps a line, and empties it when the line is handed over.
    function update() {
        if (!form) return;
        const kept = lineKept();
        if (form.hidden === !kept) return;
        const focused = document.activeElement === field;
        form.hidden = !kept;
        field.value = '';
        sent = [];
        if (focused) lineDone();
    }

    show(window.matchMedia('(pointer: coarse)').matches);
    return {
        // Tells the keys that the page may have begun or stopped keeping a line.
        update,
    };
}
