// The screen the game is drawn in, in the page's terminal box: the cells (cells.js) of what the
// game and the echo write, fitted to the space the box has (fit.js), drawn as rows of the page's
// own text (draw.js), read aloud to a screen reader (read-aloud.js), and taking the keyboard's
// keys when it has the focus (input.js). The text is the page's like any other: it can be
// selected, copied, zoomed and read by a screen reader.

import { newCells, resize, rowText, write } from './cells.js';
import { drawing } from './draw.js';
import { cell, ownFontHere, place, sizeFor, whenOwnFontComes } from './fit.js';
import { screenInput } from './input.js';
import { readingAloud } from './read-aloud.js';

// `element` is the terminal box; `space` its {width, height} in CSS px when the page opens;
// `sizeOf(space)` the font size, columns and rows for a space (the game's screen's by default);
// `first`, if not null, the bytes of the first screen the page already shows, which the screen
// starts from. The box's elements the build drew for that screen are kept, with each row that
// shows the same at the size the screen takes, so that as little as can be is made or laid out
// again before the page's first frame.
export function openView(element, space, { sizeOf = sizeFor, first = null } = {}) {
    let lastSpace = space;
    const measuredInOwnFont = ownFontHere();
    let size = sizeOf(space);
    const cells = newCells(size.columns, size.rows);
    if (first) write(cells, first);

    const built = first ? element.querySelector(':scope > .term') : null;
    const screen = built ?? document.createElement('div');
    if (!built) {
        screen.className = 'term';
        screen.tabIndex = 0;
        screen.setAttribute('role', 'region');
        screen.setAttribute('aria-label', 'The game');
    }
    const input = screenInput(screen);
    // The screen the build drew takes the keyboard before anything on the page changes, while the
    // page is laid out as it was measured: focused later, it would be laid out once more for it.
    if (built) input.focus();
    const shown = drawing(cells, built?.querySelector(':scope > .term-lines'));
    // What each key brings, read out while the screen reader switch is on.
    const reader = readingAloud(cells, built && element.querySelector(':scope > .term-said'));
    if (!built) {
        screen.append(shown.element);
        element.replaceChildren(screen, reader.element);
    }

    place(element, screen, size);
    shown.draw();
    reader.announce();
    if (!built) input.focus();

    function fitTo(next) {
        if (next.columns !== size.columns || next.rows !== size.rows) resize(cells, next.columns, next.rows);
        size = next;
        place(element, screen, size);
        shown.draw();
        // The rows that moved are not news: nothing is read out for a new size.
        reader.heard();
    }

    whenOwnFontComes(measuredInOwnFont, () => fitTo(sizeOf(lastSpace)));

    return {
        // Draws `data` at once, then calls `done`.
        write(data, done) {
            write(cells, data);
            shown.draw();
            reader.announce();
            if (done) done();
        },
        onData: input.onData,
        // Keys from elsewhere on the page (the touch keys), handed on as typed keys.
        input: (data) => input.send(data),
        focus: input.focus,
        // Sizes the screen to a new space, keeping what it shows, rewrapping lines for a new
        // number of columns.
        fit(space) {
            lastSpace = space;
            fitTo(sizeOf(space));
        },
        get fontSize() {
            return size.fontSize;
        },
        // The rows in view, as text without trailing blanks.
        rows() {
            const height = cell(size.fontSize).rowHeight;
            const last = cells.lines.length - cells.rows;
            const top = input.following ? last : Math.max(0, last - Math.round(-screen.scrollTop / height));
            return cells.lines.slice(top, top + cells.rows).map(rowText);
        },
        // With the screen reader switch on, what each key brings is read out.
        set screenReader(on) {
            reader.on = on;
        },
        keepKeyboardDown: input.keepKeyboardDown,
    };
}
