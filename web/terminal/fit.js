// Fitting the screen to its space: the page's font measured, and the font size, columns and rows
// the terminal box takes for the space the page leaves it.
//
// A desktop window gets 100 columns and 40 rows at 15 px, so every screen of the game shows whole
// and unwrapped. Less space means a smaller font; where 100 columns would need a font under 9 px,
// fewer columns, down to the 72 that the map screen and the fight screen need (wider lines then
// wrap, as in a real terminal of that width); and where the height is short, fewer rows, down to
// the map screen's, which always shows whole.

export const COLUMNS = 100; // the scroll list's longest line is 99 characters
export const ROWS = 40; // the tallest screen, the scroll list, has 37 rows and its prompt
export const FONT_SIZE = 15;
const FEWEST_COLUMNS = 72; // the widest lines of the map screen (a find to take or leave) and the fight screen
const FEWEST_ROWS = 27; // the map screen's 26 lines and the row the cursor waits on
const READABLE_FONT = 9; // the smallest font that 100 columns are kept at
const SMALLEST_FONT = 6;
const FONT_STEP = 0.25;
// The page's own font, shipped beside it, and any monospace font while it loads or if it cannot.
const OWN_FAMILY = 'Marrowdeep Mono';
const OWN_FONT = `"${OWN_FAMILY}"`;
const FONT_FAMILY = `${OWN_FONT}, monospace`;

// The page's font is asked for as the page's script is read, before the screen is made, so that
// the screen is measured in it from the start when its file has come by then. It resolves to the
// faces loaded: none if the font cannot load.
const ownFont = document.fonts?.load ? document.fonts.load(`${FONT_SIZE}px ${OWN_FONT}`).catch(() => []) : Promise.resolve([]);

// Whether the page's font has come, so that the screen measured now is measured in it: the face
// the page's style sheet declares is looked at, as asking by the font's name has the browser match
// fonts for it, which takes longer than the rest of the fit.
export function ownFontHere() {
    for (const face of document.fonts ?? []) {
        if (face.family.replace(/["']/g, '') === OWN_FAMILY) return face.status === 'loaded';
    }
    return false;
}

// If the page's font comes only after a screen was measured without it (`measuredInOwnFont`
// false), `refit()` is called once, to measure the cells again in it; if it never comes, the
// screen keeps the monospace font it has.
export function whenOwnFontComes(measuredInOwnFont, refit) {
    ownFont.then((faces) => {
        if (faces.length && !measuredInOwnFont) refit();
    });
}

// A character cell at font size `size`: its width, and the height of a row rounded to the
// screen's pixels, so rows never fall between them. Each size is measured once for the font and
// the pixel ratio the page has: a fit tries a few sizes, and the screen asks for its own again.
const measuring = (typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(1, 1) : document.createElement('canvas')).getContext('2d');
const measured = new Map();
// The page's font, once it has come (or cannot), measures differently from the one before it.
ownFont.then(() => measured.clear());
export function cell(size) {
    const ratio = window.devicePixelRatio || 1;
    const key = `${size} ${ratio}`;
    let found = measured.get(key);
    if (!found) {
        found = measure(size, ratio);
        measured.set(key, found);
    }
    return found;
}

function measure(size, ratio) {
    measuring.font = `${size}px ${FONT_FAMILY}`;
    const metrics = measuring.measureText('W');
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
// phone's screen lies two dozen steps below the largest. The size `near`, where the answer is
// thought to lie, and the step above it are tried first: where it is right, they settle it.
function largestFont(largest, fits, near = largest) {
    let low = SMALLEST_FONT; // fits, or the smallest there is
    let high = largest + FONT_STEP; // does not fit, or lies above the largest
    const tryAt = (size) => {
        if (size <= low || size >= high) return;
        if (fits(cell(size))) low = size;
        else high = size;
    };
    const first = Math.min(largest, Math.max(SMALLEST_FONT, near));
    tryAt(first);
    tryAt(first + FONT_STEP);
    while (high - low > FONT_STEP) tryAt(low + Math.floor((high - low) / FONT_STEP / 2) * FONT_STEP);
    return low;
}

// The page's font's advance and the height of its row, as parts of its size (DejaVu Sans Mono's
// 1233 and 2384 units of 2048): the font size at which a length fits is guessed from them, to be
// tried first. They only choose where the search starts: the sizes are measured all the same.
const ADVANCE = 1233 / 2048;
const ROW = 2384 / 2048;

// The step at or under the font size at which `count` cells, each `part` of the font's size long,
// take `length`.
const nearSize = (length, count, part) => Math.floor(length / count / part / FONT_STEP) * FONT_STEP;

// The font size, columns and rows for a terminal box of `width` by `height` CSS px.
export function sizeFor({ width, height }) {
    let columns = COLUMNS;
    let fontSize = largestFont(FONT_SIZE, (c) => c.width(COLUMNS) <= width, nearSize(width, COLUMNS, ADVANCE));
    if (fontSize < READABLE_FONT) {
        const readable = cell(READABLE_FONT);
        while (columns > FEWEST_COLUMNS && readable.width(columns) > width) columns -= 1;
        fontSize = largestFont(FONT_SIZE, (c) => c.width(columns) <= width, nearSize(width, columns, ADVANCE));
    }
    fontSize = largestFont(fontSize, (c) => c.height(FEWEST_ROWS) <= height, nearSize(height, FEWEST_ROWS, ROW));
    const rows = Math.min(ROWS, Math.max(FEWEST_ROWS, cell(fontSize).rowsIn(height)));
    return { fontSize, columns, rows };
}

// The font size for a terminal box `width` CSS px wide that shows `columns` by `rows` whole: the
// largest, up to the usual, at which the columns fill the width (a run's sheet, drawn once).
export function sizeToShow({ width }, columns, rows) {
    return { fontSize: largestFont(FONT_SIZE, (c) => c.width(columns) <= width, nearSize(width, columns, ADVANCE)), columns, rows };
}

// Sizes the terminal box `element`, and the `screen` that scrolls in it, to `size`: its font, the
// height of its rows, and room for its columns and rows.
export function place(element, screen, size) {
    const c = cell(size.fontSize);
    element.style.setProperty('--font-size', `${size.fontSize}px`);
    element.style.setProperty('--row-height', `${c.rowHeight}px`);
    element.style.width = `${c.width(size.columns)}px`;
    element.style.height = `${c.height(size.rows)}px`;
    screen.style.height = `${c.height(size.rows)}px`;
}
