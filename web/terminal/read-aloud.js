// Reading the screen aloud: with the screen reader switch on, the rows of the screen that each
// key brings, new or changed, are put in a live region that a screen reader reads out. The
// screen's text is in the page for a screen reader either way.

import { rowText, screenRow } from './cells.js';

// The reading aloud of the screen rows of `cells`: `element` is its live region, `built` if the
// page already has it.
export function readingAloud(cells, built = null) {
    const said = built ?? document.createElement('div');
    if (!built) {
        said.className = 'term-said';
        said.setAttribute('aria-live', 'polite');
    }

    let on = false;
    const announced = new WeakMap(); // each row's text when it was last read out

    return {
        element: said,
        // Reads out the rows that are new or changed since the last time, top to bottom.
        announce() {
            const changed = [];
            for (let y = 0; y < cells.rows; ++y) {
                const row = screenRow(cells, y);
                const text = rowText(row);
                if (announced.get(row) === text) continue;
                announced.set(row, text);
                if (text.trim()) changed.push(text.replace(/\s+/g, ' ').trim());
            }
            if (on && changed.length) said.textContent = changed.join('\n');
        },
        // The rows as they are now are not news: nothing is read out for them, as for the rows
        // that moved when the screen took a new size.
        heard() {
            for (let y = 0; y < cells.rows; ++y) announced.set(screenRow(cells, y), rowText(screenRow(cells, y)));
        },
        set on(reading) {
            on = reading;
            if (!on) said.textContent = '';
        },
    };
}
