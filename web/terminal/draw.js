// Drawing the screen: the cells (cells.js) shown as rows of the page's own text, one element per
// row and one span per run of a colour, and the cursor over them. Only the rows that look
// different from when they were last drawn are drawn again.

import { DEFAULT_COLOUR, REVERSED, keptRows, runsOf } from './cells.js';

// The class of a run of colour `attr`: c0..c7 for the eight colours, rev for the reversed; the
// build's first screen (first-screen.mjs) is drawn with it too.
export function classOf(attr) {
    const colour = attr & ~REVERSED;
    const names = [];
    if (colour !== DEFAULT_COLOUR) names.push(`c${colour}`);
    if (attr & REVERSED) names.push('rev');
    return names.join(' ');
}

// A row's runs of colour as one string: a row written again as it was (the game draws its whole
// screen after each key) shows nothing new and is left as it is.
const lookOf = (runs) => runs.map(({ attr, text }) => `${attr}\u0000${text}`).join('\u0001');

// Draws a row's `runs` into its element: the usual colour as plain text, each other run in a span.
function drawRow(element, runs) {
    const parts = runs.map(({ attr, text }) => {
        if (attr === DEFAULT_COLOUR) return document.createTextNode(text);
        const span = document.createElement('span');
        span.className = classOf(attr);
        span.textContent = text;
        return span;
    });
    element.replaceChildren(...parts);
}

// The drawing of `cells`, kept rows and screen rows alike: `element` holds the rows and the
// cursor, and `draw()` brings it in line with the cells. `built`, if given, is the rows' element
// the page already shows (the build's first screen): its rows are taken as they are, each one
// whose text is its row's, and only the others are drawn again.
export function drawing(cells, built = null) {
    const lines = built ?? document.createElement('div');
    let cursor = built?.querySelector(':scope > .term-cursor');
    if (!cursor) {
        lines.className = 'term-lines';
        cursor = document.createElement('div');
        cursor.className = 'term-cursor';
        cursor.setAttribute('aria-hidden', 'true');
        lines.append(cursor); // the rows go before it
    }

    const drawn = new Map(); // each row shown: its element, the serial it was drawn at and its look
    if (built) {
        const rows = Array.from(built.querySelectorAll(':scope > .term-row'));
        cells.lines.forEach((row, y) => {
            if (!rows[y]) return;
            const runs = runsOf(row);
            const same = rows[y].textContent === runs.map(({ text }) => text).join('');
            drawn.set(row, { element: rows[y], serial: same ? row.serial : -1, look: same ? lookOf(runs) : null });
        });
        for (const row of rows.slice(cells.lines.length)) row.remove();
    }

    function draw() {
        const current = new Set(cells.lines);
        for (const [row, entry] of drawn) {
            if (!current.has(row)) {
                entry.element.remove();
                drawn.delete(row);
            }
        }
        let at = lines.firstChild;
        for (const row of cells.lines) {
            let entry = drawn.get(row);
            if (!entry) {
                const div = document.createElement('div');
                div.className = 'term-row';
                entry = { element: div, serial: -1, look: null };
                drawn.set(row, entry);
            }
            if (entry.serial !== row.serial) {
                const runs = runsOf(row);
                const look = lookOf(runs);
                if (look !== entry.look) {
                    drawRow(entry.element, runs);
                    entry.look = look;
                }
                entry.serial = row.serial;
            }
            if (entry.element === at) at = at.nextSibling;
            else lines.insertBefore(entry.element, at);
        }
        cursor.style.setProperty('--x', String(cells.x));
        cursor.style.setProperty('--y', String(keptRows(cells) + cells.y));
    }

    return { element: lines, draw };
}
