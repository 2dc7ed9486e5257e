// The screen the game is drawn in: the cells of cells.js shown as rows of the page's own
// text, one element per row and one span per run of a colour, in the page's terminal box, sized to
// the space it has. The text is the page's like any other: it can be selected, copied, zoomed and
// read by a screen reader. The screen takes the keyboard's keys when it has the focus.
//
// A desktop window gets 100 columns and 40 rows at 15 px, so every screen of the game shows whole
// and unwrapped. Less space means a smaller font; where 100 columns would need a font under 9 px,
// fewer columns, down to the 72 that the map screen and the fight screen need (wider lines then
// wrap, as in a real terminal of that width); and where the height is short, fewer rows, down to
// the map screen's, which always shows whole.

import { DEFAULT_COLOUR, REVERSED, keptRows, newCells, resize, rowText, runsOf, screenRow, write } from './cells.js';
import { keyBytes, pastedBytes } from './keys.js';

export const COLUMNS = 100; // the scroll list's longest line is 99 characters
export const ROWS = 40; // the tallest screen, the scroll list, has 37 rows and its prompt
export const FONT_SIZE = 15;
const FEWEST_COLUMNS = 72; // the widest lines of the map screen (a find to take or leave) and the fight screen
const FEWEST_ROWS = 27; // the map screen's 26 lines and the row the cursor waits on
const READABLE_FONT = 9; // the smallest font that 100 columns are kept at
const SMALLEST_FONT = 6;
const FONT_STEP = 0.25;
// The page's own font, shipped beside it, and any monospace font while it loads or if it cannot.
const OWN_FONT = '"Marrowdeep Mono"';
const FONT_FAMILY = `${OWN_FONT}, monospace`;

// The page's font is asked for as the page's script is read, before the screen is made, so that
// the screen is measured in it from the start when its file has come by then. It resolves to the
// faces loaded: none if the font cannot load.
const ownFont = document.fonts?.load ? document.fonts.load(`${FONT_SIZE}px ${OWN_FONT}`).catch(() => []) : Promise.resolve([]);

// A character cell at font size `size`: its width, and the height of a row rounded to the
// screen's pixels, so rows never fall between them.
const measuring = (typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(1, 1) : document.createElement('canvas')).getContext('2d');
function cell(size) {
    measuring.font = `${size}px ${FONT_FAMILY}`;
    const metrics = measuring.measureText('W');
    const ratio = window.devicePixelRatio || 1;
    // A browser without the font's own height gets a usual one.
    const tall = metrics.fontBoundingBoxAscent + metrics.fontBoundingBoxDescent || size * 1.2;
    const height = Math.ceil(tall * ratio);
    return {
        columnWidth: metrics.width,
        rowHeight: height / ratio,
        width: (columns) => Math.round(metrics.width * columns),
        height: (rows) => Math.round((height * rows) / ratio),
        rowsIn: (space) => Math.floor((space * ratio) / height),
    };
}

// The largest font size, on steps of FONT_STEP from `largest` down to SMALLEST_FONT, for which
// `fits(cell)` holds (SMALLEST_FONT if none does). A larger font never fits where a smaller one
// does not, so the steps are halved rather than walked: each size tried is a text measure, and a
// phone's screen lies two dozen steps below the largest.
function largestFont(largest, fits) {
    if (fits(cell(largest))) return largest;
    let low = SMALLEST_FONT; // fits, or the smallest there is
    let high = largest; // does not fit
    while (high - low > FONT_STEP) {
        const middle = low + Math.floor((high - low) / FONT_STEP / 2) * FONT_STEP;
        if (fits(cell(middle))) low = middle;
        else high = middle;
    }
    return low;
}

// The font size, columns and rows for a terminal box of `width` by `height` CSS px.
function sizeFor({ width, height }) {
    let columns = COLUMNS;
    let fontSize = largestFont(FONT_SIZE, (c) => c.width(COLUMNS) <= width);
    if (fontSize < READABLE_FONT) {
        const readable = cell(READABLE_FONT);
        while (columns > FEWEST_COLUMNS && readable.width(columns) > width) columns -= 1;
        fontSize = largestFont(FONT_SIZE, (c) => c.width(columns) <= width);
    }
    fontSize = largestFont(fontSize, (c) => c.height(FEWEST_ROWS) <= height);
    const rows = Math.min(ROWS, Math.max(FEWEST_ROWS, cell(fontSize).rowsIn(height)));
    return { fontSize, columns, rows };
}

// The class of a run of colour `attr`: c0..c7 for the eight colours, rev for the reversed.
function classOf(attr) {
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

// `element` is the terminal box; `space` its {width, height} in CSS px when the page opens.
export function openView(element, space) {
    let lastSpace = space;
    const measuredInOwnFont = document.fonts?.check?.(`${FONT_SIZE}px ${OWN_FONT}`) ?? false;
    let size = sizeFor(space);
    const cells = newCells(size.columns, size.rows);

    const screen = document.createElement('div');
    screen.className = 'term';
    screen.tabIndex = 0;
    screen.setAttribute('role', 'region');
    screen.setAttribute('aria-label', 'The game');
    const lines = document.createElement('div');
    lines.className = 'term-lines';
    const cursor = document.createElement('div');
    cursor.className = 'term-cursor';
    cursor.setAttribute('aria-hidden', 'true');
    lines.append(cursor); // the rows go before it
    screen.append(lines);
    // What each key brings, read out while the screen reader switch is on.
    const said = document.createElement('div');
    said.className = 'term-said';
    said.setAttribute('aria-live', 'polite');
    element.replaceChildren(screen, said);

    const drawn = new Map(); // each row shown: its element, the serial it was drawn at and its look
    let following = true; // the view is on the newest rows
    let announcing = false;
    const announced = new WeakMap(); // each row's text when it was last read out

    function place() {
        const c = cell(size.fontSize);
        element.style.setProperty('--font-size', `${size.fontSize}px`);
        element.style.setProperty('--row-height', `${c.rowHeight}px`);
        element.style.width = `${c.width(size.columns)}px`;
        element.style.height = `${c.height(size.rows)}px`;
        screen.style.height = `${c.height(size.rows)}px`;
    }

    // Brings the rows' elements in line with the cells, drawing again only the rows that look different.
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

    // Reads out the rows that are new or changed since the last time, top to bottom.
    function announce() {
        const changed = [];
        for (let y = 0; y < cells.rows; ++y) {
            const row = screenRow(cells, y);
            const text = rowText(row);
            if (announced.get(row) === text) continue;
            announced.set(row, text);
            if (text.trim()) changed.push(text.replace(/\s+/g, ' ').trim());
        }
        if (announcing && changed.length) said.textContent = changed.join('\n');
    }

    // The screen's style stacks its rows from the bottom up, so its scroll position counts up from
    // the newest row (0) to the oldest kept row (negative): it stays on the newest rows as they come
    // until scrolled back, with no measuring as it draws.
    screen.addEventListener('scroll', () => {
        following = screen.scrollTop > -2;
    });

    let handler = () => {};
    function send(data) {
        if (!following) screen.scrollTop = 0;
        following = true;
        handler(data);
    }
    screen.addEventListener('keydown', (event) => {
        if (event.isComposing) return;
        // Shift with Page Up or Down scrolls the screen back and forth.
        if (event.shiftKey && (event.key === 'PageUp' || event.key === 'PageDown') && !event.ctrlKey && !event.altKey) {
            screen.scrollBy(0, (event.key === 'PageUp' ? -1 : 1) * screen.clientHeight);
            event.preventDefault();
            return;
        }
        const selected = String(window.getSelection() ?? '');
        const data = keyBytes(event, selected !== '');
        if (data === null) return;
        event.preventDefault();
        send(data);
    });
    screen.addEventListener('paste', (event) => {
        event.preventDefault();
        const text = pastedBytes(event.clipboardData?.getData('text/plain') ?? '');
        if (text) send(text);
    });

    place();
    draw();
    announce();
    screen.focus({ preventScroll: true });

    function fitTo(next) {
        if (next.columns !== size.columns || next.rows !== size.rows) resize(cells, next.columns, next.rows);
        size = next;
        place();
        draw();
        // The rows that moved are not news: nothing is read out for a new size.
        for (let y = 0; y < cells.rows; ++y) announced.set(screenRow(cells, y), rowText(screenRow(cells, y)));
    }

    // If the page's font came only after the screen was made, the cells are measured again in it;
    // if it never comes, the screen keeps the monospace font it has.
    ownFont.then((faces) => {
        if (faces.length && !measuredInOwnFont) fitTo(sizeFor(lastSpace));
    });

    return {
        // Draws `data` at once, then calls `done`.
        write(data, done) {
            write(cells, data);
            draw();
            announce();
            if (done) done();
        },
        onData(h) {
            handler = h;
        },
        // Keys from elsewhere on the page (the touch keys), handed on as typed keys.
        input: (data) => send(data),
        focus: () => screen.focus({ preventScroll: true }),
        // Sizes the screen to a new space, keeping what it shows, rewrapping lines for a new
        // number of columns.
        fit(space) {
            lastSpace = space;
            fitTo(sizeFor(space));
        },
        get fontSize() {
            return size.fontSize;
        },
        // The rows in view, as text without trailing blanks.
        rows() {
            const height = cell(size.fontSize).rowHeight;
            const last = cells.lines.length - cells.rows;
            const top = following ? last : Math.max(0, last - Math.round(-screen.scrollTop / height));
            return cells.lines.slice(top, top + cells.rows).map(rowText);
        },
        // With the screen reader switch on, what each key brings is read out.
        set screenReader(on) {
            announcing = on;
            if (!on) said.textContent = '';
        },
        // A tap on the screen gives it the focus; this tells a phone that it takes no typing, so
        // its keyboard stays down, and a keyboard's keys still come.
        keepKeyboardDown() {
            screen.setAttribute('inputmode', 'none');
        },
    };
}
