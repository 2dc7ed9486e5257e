// The terminal the game is drawn in: the terminal widget (xterm.js, loaded before the page's
// modules run) in the page's terminal box, sized to the space it has.
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
const FONT_FAMILY = 'monospace';

// A character cell at font size `size`, measured the way the widget measures it, and the width and
// height of `columns` and `rows` of them as the widget rounds them for the screen's pixels.
const measuring = (typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(1, 1) : document.createElement('canvas')).getContext('2d');
function cell(size) {
    measuring.font = `${size}px ${FONT_FAMILY}`;
    const metrics = measuring.measureText('W');
    const ratio = window.devicePixelRatio || 1;
    // A browser without the font's own height gets a usual one.
    const tall = metrics.fontBoundingBoxAscent + metrics.fontBoundingBoxDescent || size * 1.2;
    const height = Math.ceil(tall * ratio);
    return {
        width: (columns) => Math.round(metrics.width * columns),
        height: (rows) => Math.round((height * rows) / ratio),
        rowsIn: (space) => Math.floor((space * ratio) / height),
    };
}

// The largest font size, on steps of FONT_STEP from `largest` down, for which `fits(cell)` holds.
function largestFont(largest, fits) {
    let size = largest;
    while (size > SMALLEST_FONT && !fits(cell(size))) size -= FONT_STEP;
    return size;
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

// `space` is the terminal box's {width, height} in CSS px when the page opens.
export function openView(element, space) {
    let size = sizeFor(space);
    const terminal = new Terminal({
        cols: size.columns,
        rows: size.rows,
        convertEol: true,
        scrollback: 1000,
        fontFamily: FONT_FAMILY,
        fontSize: size.fontSize,
    });
    terminal.open(element);
    terminal.focus();

    return {
        write: (data, done) => terminal.write(data, done),
        onData: (handler) => terminal.onData(handler),
        // Keys from elsewhere on the page (the touch keys), handed to the terminal as typed keys:
        // they reach onData as the keyboard's do, and the terminal draws the answer to them as
        // soon as to a typed key's (it draws at once only after input it has seen).
        input: (data) => terminal.input(data, true),
        focus: () => terminal.focus(),
        // Sizes the terminal to a new space. The widget keeps what it shows, rewrapping lines
        // for a new number of columns.
        fit(space) {
            const next = sizeFor(space);
            if (next.fontSize !== size.fontSize) terminal.options.fontSize = next.fontSize;
            if (next.columns !== size.columns || next.rows !== size.rows) terminal.resize(next.columns, next.rows);
            size = next;
        },
        get fontSize() {
            return size.fontSize;
        },
        // The rows in view, as text without trailing blanks.
        rows() {
            const buffer = terminal.buffer.active;
            const rows = [];
            for (let y = buffer.viewportY; y < buffer.viewportY + terminal.rows; ++y) {
                rows.push(buffer.getLine(y)?.translateToString(true) ?? '');
            }
            return rows;
        },
        // The widget's own screen reader mode: what the terminal shows goes into the page's
        // accessibility tree, and the lines it writes are read out.
        set screenReader(on) {
            terminal.options.screenReaderMode = on;
        },
        // A tap on the terminal puts the focus in the widget's hidden text field, which on a
        // phone raises its keyboard: this keeps the keyboard down, and a keyboard's keys still come.
        keepKeyboardDown() {
            terminal.textarea.setAttribute('inputmode', 'none');
        },
    };
}
