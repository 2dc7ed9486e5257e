// The screen's cells: what the game and the page's echo write, turned into rows of characters
// and colours with a cursor, as a terminal would show them. Nothing here touches the page.
//
// It does what the game's output needs: printable ASCII at the cursor, CR, LF (a line end on its
// own also returns to the first column), Backspace, Tab, the colours (ESC [ 30..37 m, 39 and 0
// back to the usual, 7 and 27 for the reversed end word), the cursor's move home (ESC [ H) and the
// clear (ESC [ 2 J the screen, ESC [ 3 J the lines scrolled away). A character written in the last
// column leaves the cursor there, and the next one goes to the start of the next row, which
// scrolls the screen up from the bottom row; the rows that leave the top are kept, the last 1000.
// Every other byte and sequence is passed over.

export const SCROLLBACK = 1000;
export const DEFAULT_COLOUR = 9; // the screen's own foreground, as SGR 39 names it
export const REVERSED = 16; // added to a colour: the colour as background, the text black
const TAB = 8;
const MOST_PARAMETERS = 16;
const LARGEST_PARAMETER = 9999;

// The parser's states.
const TEXT = 0;
const ESCAPE = 1; // after ESC
const CONTROL = 2; // a control sequence: ESC [ parameters final
const STRING = 3; // an operating system command or another string, up to BEL or ESC
const INTERMEDIATE = 4; // ESC followed by bytes 0x20..0x2f, up to the final byte

let serials = 0; // each change to a row gets a new number, so a view can tell what it has drawn

function newRow(columns) {
    return {
        chars: new Array(columns).fill(' '),
        attrs: new Uint8Array(columns).fill(DEFAULT_COLOUR),
        wrapped: false, // the row goes on from the one above, which ran over its last column
        serial: ++serials,
    };
}

function blankRow(row) {
    row.chars.fill(' ');
    row.attrs.fill(DEFAULT_COLOUR);
    row.wrapped = false;
    row.serial = ++serials;
}

// A screen of `columns` by `rows`, blank, the cursor in its top left corner. `lines` holds the
// kept rows, oldest first, then the screen's rows: its last `rows` entries.
export function newCells(columns, rows) {
    const lines = [];
    for (let i = 0; i < rows; ++i) lines.push(newRow(columns));
    return {
        columns,
        rows,
        lines,
        x: 0,
        y: 0, // the cursor's row on the screen
        pendingWrap: false, // a character went into the last column; the next one wraps
        attr: DEFAULT_COLOUR,
        state: TEXT,
        parameters: [],
        private: false, // the control sequence has a marker (? > < =) or intermediates: passed over
    };
}

export const screenRow = (t, y) => t.lines[t.lines.length - t.rows + y];
export const keptRows = (t) => t.lines.length - t.rows;

// A row's characters without trailing blanks.
export const rowText = (row) => row.chars.join('').trimEnd();

// A row as runs of one colour each: [{attr, text}], the trailing blanks of the usual colour left out.
export function runsOf(row) {
    let end = row.chars.length;
    while (end > 0 && row.chars[end - 1] === ' ' && row.attrs[end - 1] === DEFAULT_COLOUR) --end;
    const runs = [];
    for (let x = 0; x < end; ) {
        const attr = row.attrs[x];
        let to = x + 1;
        while (to < end && row.attrs[to] === attr) ++to;
        runs.push({ attr, text: row.chars.slice(x, to).join('') });
        x = to;
    }
    return runs;
}

function scrollUp(t) {
    t.lines.push(newRow(t.columns));
    if (keptRows(t) > SCROLLBACK) t.lines.shift();
}

function lineFeed(t) {
    if (t.y === t.rows - 1) scrollUp(t);
    else t.y += 1;
}

function print(t, ch) {
    if (t.pendingWrap) {
        t.pendingWrap = false;
        t.x = 0;
        lineFeed(t);
        screenRow(t, t.y).wrapped = true;
    }
    const row = screenRow(t, t.y);
    row.chars[t.x] = ch;
    row.attrs[t.x] = t.attr;
    row.serial = ++serials;
    if (t.x === t.columns - 1) t.pendingWrap = true;
    else t.x += 1;
}

// The control bytes a terminal acts on anywhere, even inside a sequence; true if `byte` was one.
function control(t, byte) {
    switch (byte) {
        case 0x08: // Backspace
            t.pendingWrap = false;
            if (t.x > 0) t.x -= 1;
            return true;
        case 0x09: // Tab: to the next stop, every 8 columns, never past the last column
            t.pendingWrap = false;
            t.x = Math.min(t.columns - 1, (Math.floor(t.x / TAB) + 1) * TAB);
            return true;
        case 0x0a: // a line end, which also returns to the first column
            t.pendingWrap = false;
            t.x = 0;
            lineFeed(t);
            return true;
        case 0x0d:
            t.pendingWrap = false;
            t.x = 0;
            return true;
        default:
            return byte < 0x20 || byte === 0x7f; // any other control is passed over
    }
}

function eraseCells(t, fromLine, fromX, toLine, toX) {
    for (let y = fromLine; y <= toLine; ++y) {
        const row = screenRow(t, y);
        const start = y === fromLine ? fromX : 0;
        const end = y === toLine ? toX : t.columns;
        if (start === 0 && end === t.columns) {
            blankRow(row);
            continue;
        }
        row.chars.fill(' ', start, end);
        row.attrs.fill(DEFAULT_COLOUR, start, end);
        row.serial = ++serials;
    }
}

function selectGraphic(t, parameters) {
    if (!parameters.length) parameters = [0];
    for (let i = 0; i < parameters.length; ++i) {
        const p = parameters[i];
        if (p === 0) t.attr = DEFAULT_COLOUR;
        else if (p >= 30 && p <= 37) t.attr = (t.attr & REVERSED) | (p - 30);
        else if (p === 39) t.attr = (t.attr & REVERSED) | DEFAULT_COLOUR;
        else if (p === 7) t.attr |= REVERSED;
        else if (p === 27) t.attr &= ~REVERSED;
        else if (p === 38 || p === 48) i += parameters[i + 1] === 5 ? 2 : parameters[i + 1] === 2 ? 4 : 1; // colours of more than eight: passed over whole
    }
}

function dispatch(t, final) {
    const p = t.parameters;
    if (t.private) return;
    if (final === 0x6d) {
        selectGraphic(t, p); // m
    } else if (final === 0x48 || final === 0x66) {
        // H, f: the cursor to a row and column, counted from 1
        t.pendingWrap = false;
        t.y = Math.min(t.rows, Math.max(1, p[0] || 1)) - 1;
        t.x = Math.min(t.columns, Math.max(1, p[1] || 1)) - 1;
    } else if (final === 0x4a) {
        // J: erase the screen below the cursor (0), above it (1), all of it (2), or the kept rows (3)
        const how = p[0] || 0;
        if (how === 0) eraseCells(t, t.y, t.x, t.rows - 1, t.columns);
        else if (how === 1) eraseCells(t, 0, 0, t.y, t.x + 1);
        else if (how === 2) eraseCells(t, 0, 0, t.rows - 1, t.columns);
        else if (how === 3) t.lines.splice(0, keptRows(t));
    }
}

// Hands `data` (bytes, or a string of character codes under 256) to the screen.
export function write(t, data) {
    const text = typeof data === 'string';
    for (let i = 0; i < data.length; ++i) {
        const byte = text ? data.charCodeAt(i) : data[i];
        if (byte === 0x1b) {
            t.state = ESCAPE;
            continue;
        }
        if (byte === 0x18 || byte === 0x1a) {
            t.state = TEXT; // CAN and SUB end a sequence unfinished
            continue;
        }
        switch (t.state) {
            case TEXT:
                if (byte >= 0x20 && byte < 0x7f) print(t, String.fromCharCode(byte));
                else control(t, byte);
                break;
            case ESCAPE:
                if (control(t, byte)) break;
                if (byte === 0x5b) {
                    t.state = CONTROL;
                    t.parameters = [];
                    t.private = false;
                } else if (byte === 0x5d || byte === 0x50 || byte === 0x58 || byte === 0x5e || byte === 0x5f) {
                    t.state = STRING; // ] P X ^ _
                } else if (byte >= 0x20 && byte < 0x30) {
                    t.state = INTERMEDIATE;
                } else {
                    t.state = TEXT;
                }
                break;
            case INTERMEDIATE:
                if (control(t, byte)) break;
                if (byte >= 0x30) t.state = TEXT;
                break;
            case STRING:
                if (byte === 0x07) t.state = TEXT;
                break;
            case CONTROL:
                if (control(t, byte)) break;
                if (byte >= 0x30 && byte <= 0x39) {
                    if (!t.parameters.length) t.parameters.push(0);
                    const last = t.parameters.length - 1;
                    t.parameters[last] = Math.min(LARGEST_PARAMETER, t.parameters[last] * 10 + (byte - 0x30));
                } else if (byte === 0x3b || byte === 0x3a) {
                    if (!t.parameters.length) t.parameters.push(0);
                    if (t.parameters.length < MOST_PARAMETERS) t.parameters.push(0);
                    else t.private = true;
                } else if (byte >= 0x3c && byte <= 0x3f) {
                    t.private = true;
                } else if (byte >= 0x20 && byte < 0x30) {
                    t.private = true;
                } else if (byte >= 0x40 && byte < 0x7f) {
                    dispatch(t, byte);
                    t.state = TEXT;
                } else {
                    t.state = TEXT; // a byte no sequence has: the sequence is dropped
                }
                break;
        }
    }
}

// The screen at a new size. Lines that wrapped are joined and wrapped again at the new width; the
// cursor stays on its character. The screen shows the last rows up to the cursor or the last
// written row, whichever is lower; rows above go to the kept rows, and kept rows come back into
// view when there is room.
export function resize(t, columns, rows) {
    columns = Math.max(1, columns);
    rows = Math.max(1, rows);
    if (columns === t.columns && rows === t.rows) return;
    const cursorLine = keptRows(t) + t.y;
    // The lines as written: each with its cells and where the cursor is in it.
    const logical = [];
    let cursorAt = null;
    t.lines.forEach((row, index) => {
        if (!row.wrapped || !logical.length) logical.push({ chars: [], attrs: [] });
        const line = logical[logical.length - 1];
        if (index === cursorLine) cursorAt = { line: logical.length - 1, offset: line.chars.length + t.x + (t.pendingWrap ? 1 : 0) };
        line.chars.push(...row.chars);
        line.attrs.push(...row.attrs);
    });
    const lines = [];
    let cursor = { index: 0, x: 0, pendingWrap: false };
    logical.forEach((line, number) => {
        let end = line.chars.length;
        while (end > 0 && line.chars[end - 1] === ' ' && line.attrs[end - 1] === DEFAULT_COLOUR) --end;
        const first = lines.length;
        let count = Math.max(1, Math.ceil(end / columns));
        if (cursorAt && cursorAt.line === number) {
            let row = Math.floor(cursorAt.offset / columns);
            let x = cursorAt.offset % columns;
            const pendingWrap = t.pendingWrap && x === 0 && row > 0;
            if (pendingWrap) {
                row -= 1;
                x = columns - 1;
            }
            count = Math.max(count, row + 1);
            cursor = { index: first + row, x, pendingWrap };
        }
        for (let r = 0; r < count; ++r) {
            const row = newRow(columns);
            const from = r * columns;
            const to = Math.min(end, from + columns);
            for (let c = from; c < to; ++c) {
                row.chars[c - from] = line.chars[c];
                row.attrs[c - from] = line.attrs[c];
            }
            row.wrapped = r > 0;
            lines.push(row);
        }
    });
    // Blank rows below both the cursor and the last written row are the screen's, not the lines'.
    while (lines.length > cursor.index + 1 && !runsOf(lines[lines.length - 1]).length) lines.pop();
    // The cursor stays on the screen: rows further below it than the screen is tall are let go.
    if (lines.length > cursor.index + rows) lines.length = cursor.index + rows;
    while (lines.length < rows) lines.push(newRow(columns));
    const kept = Math.min(SCROLLBACK, lines.length - rows);
    const dropped = lines.length - rows - kept;
    lines.splice(0, dropped);
    t.columns = columns;
    t.rows = rows;
    t.lines = lines;
    t.x = cursor.x;
    t.y = cursor.index - dropped - kept;
    t.pendingWrap = cursor.pendingWrap;
}
