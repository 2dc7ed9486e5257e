// The page's screen cells, under node: what each byte the game and the echo write does to the
// rows, the colours and the cursor, checked cell by cell; the screen at a new size; the keys'
// bytes; and random bytes, which must never throw or leave the screen out of shape.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import {
    DEFAULT_COLOUR,
    REVERSED,
    SCROLLBACK,
    keptRows,
    newCells,
    resize,
    rowText,
    runsOf,
    screenRow,
    write,
} from '../../web/terminal/cells.js';
import { keyBytes, pastedBytes } from '../../web/terminal/keys.js';

const ESC = '\x1b';
const CLEAR = `${ESC}[H${ESC}[2J${ESC}[3J`; // the page's clear
const bytes = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));

// The screen's rows as text, trailing blanks cut.
const screenText = (t) => Array.from({ length: t.rows }, (_, y) => rowText(screenRow(t, y)));
const cursorOf = (t) => ({ x: t.x, y: t.y, pendingWrap: t.pendingWrap });
// Each row's colours, one letter a cell: '.' the usual, 0..7 a colour, and upper case A..H for
// the reversed 0..7, R for the reversed usual.
const colours = (t, y) =>
    Array.from(screenRow(t, y).attrs, (a) => {
        const colour = a & ~REVERSED;
        if (a & REVERSED) return colour === DEFAULT_COLOUR ? 'R' : 'ABCDEFGH'[colour];
        return colour === DEFAULT_COLOUR ? '.' : String(colour);
    }).join('');

function written(columns, rows, text) {
    const t = newCells(columns, rows);
    write(t, bytes(text));
    return t;
}

describe('text and line ends', () => {
    test('characters go at the cursor, CR returns, LF alone also returns to the first column', () => {
        const t = written(10, 4, 'abc\r\nde\nfg\rX');
        assert.deepEqual(screenText(t), ['abc', 'de', 'Xg', '']);
        assert.deepEqual(cursorOf(t), { x: 1, y: 2, pendingWrap: false });
    });

    test('Backspace moves left, stops at the first column, and the echo of an erase blanks the cell', () => {
        const t = written(10, 2, 'name\b \b\b \bX\r\b\bY');
        assert.deepEqual(screenText(t), ['YaX', '']);
        assert.equal(t.x, 1);
    });

    test('Tab goes to the next stop of eight, never past the last column', () => {
        const t = written(20, 2, 'a\tb\tc\td');
        assert.equal(screenRow(t, 0).chars.join(''), 'a       b       c  d');
        assert.deepEqual(cursorOf(t), { x: 19, y: 0, pendingWrap: true });
    });
});

describe('the right margin', () => {
    test('a character in the last column leaves the cursor there, waiting to wrap', () => {
        const t = written(5, 3, 'abcde');
        assert.deepEqual(screenText(t), ['abcde', '', '']);
        assert.deepEqual(cursorOf(t), { x: 4, y: 0, pendingWrap: true });
        write(t, 'f');
        assert.deepEqual(screenText(t), ['abcde', 'f', '']);
        assert.deepEqual(cursorOf(t), { x: 1, y: 1, pendingWrap: false });
        assert.equal(screenRow(t, 1).wrapped, true);
        assert.equal(screenRow(t, 0).wrapped, false);
    });

    test('a line end right after the last column makes one line end, not two', () => {
        const t = written(5, 3, 'abcde\r\nf');
        assert.deepEqual(screenText(t), ['abcde', 'f', '']);
        assert.equal(screenRow(t, 1).wrapped, false);
    });

    test('CR, LF and Backspace each end the wait to wrap', () => {
        assert.deepEqual(screenText(written(5, 2, 'abcde\rX')), ['Xbcde', '']);
        assert.deepEqual(screenText(written(5, 2, 'abcde\nX')), ['abcde', 'X']);
        // Backspace leaves the last column for the one before it, as a VT100 does.
        const t = written(5, 2, 'abcde\bX');
        assert.deepEqual(screenText(t), ['abcXe', '']);
        assert.deepEqual(cursorOf(t), { x: 4, y: 0, pendingWrap: false });
    });

    test('a wrap on the bottom row scrolls the screen up', () => {
        const t = written(3, 2, 'abcdefg');
        assert.deepEqual(screenText(t), ['def', 'g']);
        assert.deepEqual(t.lines.slice(0, keptRows(t)).map(rowText), ['abc']);
        assert.deepEqual(cursorOf(t), { x: 1, y: 1, pendingWrap: false });
    });
});

describe('colours', () => {
    test('the eight colours, each back to the usual by ESC [ 0 m or ESC [ m, and reversed text', () => {
        const t = written(24, 2, `a${ESC}[31mbc${ESC}[0md${ESC}[34me${ESC}[mf${ESC}[30mg${ESC}[37mh${ESC}[7mi${ESC}[27mj${ESC}[39mk${ESC}[7ml${ESC}[0mm`);
        assert.equal(screenRow(t, 0).chars.join('').trimEnd(), 'abcdefghijklm');
        assert.equal(colours(t, 0), '.11.4.07H7.R.' + '.'.repeat(11));
        assert.deepEqual(runsOf(screenRow(t, 0)), [
            { attr: DEFAULT_COLOUR, text: 'a' },
            { attr: 1, text: 'bc' },
            { attr: DEFAULT_COLOUR, text: 'd' },
            { attr: 4, text: 'e' },
            { attr: DEFAULT_COLOUR, text: 'f' },
            { attr: 0, text: 'g' },
            { attr: 7, text: 'h' },
            { attr: 7 | REVERSED, text: 'i' },
            { attr: 7, text: 'j' },
            { attr: DEFAULT_COLOUR, text: 'k' },
            { attr: DEFAULT_COLOUR | REVERSED, text: 'l' },
            { attr: DEFAULT_COLOUR, text: 'm' },
        ]);
    });

    test('several in one sequence, and the page\'s end word: reversed blanks are kept in the runs', () => {
        const t = written(12, 2, `${ESC}[0;35;7m x ${ESC}[0m`);
        assert.equal(colours(t, 0), 'FFF' + '.'.repeat(9));
        assert.deepEqual(runsOf(screenRow(t, 0)), [{ attr: 5 | REVERSED, text: ' x ' }]);
    });

    test('a colour stays on across a wrap and a line end', () => {
        const t = written(3, 3, `${ESC}[32mabcd\r\ne`);
        assert.equal(colours(t, 0), '222');
        assert.equal(colours(t, 1), '2..');
        assert.equal(colours(t, 2), '2..');
    });

    test('colours of more than eight are passed over whole, parameters and all', () => {
        const t = written(6, 1, `${ESC}[38;5;31mx${ESC}[38;2;1;2;31my${ESC}[31;48;5;7mz`);
        assert.equal(colours(t, 0), '..1...');
    });
});

describe('the clear and the kept rows', () => {
    test('the page\'s clear empties the screen and the kept rows and puts the cursor home', () => {
        const t = written(4, 2, 'ab\r\ncd\r\nef\r\ngh');
        assert.equal(keptRows(t), 2);
        write(t, bytes(CLEAR + 'X'));
        assert.deepEqual(screenText(t), ['X', '']);
        assert.equal(keptRows(t), 0);
        assert.deepEqual(colours(t, 1), '....');
    });

    test('ESC [ 2 J alone keeps the kept rows; ESC [ J erases from the cursor down, ESC [ 1 J up to it', () => {
        const t = written(4, 3, 'ab\r\ncd\r\nef\r\ngh');
        write(t, `${ESC}[2J`);
        assert.deepEqual(screenText(t), ['', '', '']);
        assert.deepEqual(t.lines.slice(0, keptRows(t)).map(rowText), ['ab']);
        const u = written(4, 3, 'abcd\r\nefgh\r\nijkl');
        write(u, `${ESC}[2;2H${ESC}[J`);
        assert.deepEqual(screenText(u), ['abcd', 'e', '']);
        const v = written(4, 3, 'abcd\r\nefgh\r\nijkl');
        write(v, `${ESC}[2;2H${ESC}[1J`);
        assert.deepEqual(screenText(v), ['', '  gh', 'ijkl']);
    });

    test('the cursor goes where ESC [ row ; column H says, kept on the screen', () => {
        const t = written(5, 3, `${ESC}[2;3Hx${ESC}[9;99Hy${ESC}[Hz`);
        assert.deepEqual(screenText(t), ['z', '  x', '    y']);
    });

    test('rows scrolled off the top are kept, the last 1000', () => {
        const t = newCells(8, 3);
        for (let i = 0; i < SCROLLBACK + 10; ++i) write(t, `line${i}\r\n`);
        assert.equal(keptRows(t), SCROLLBACK);
        assert.equal(rowText(t.lines[0]), 'line8');
        assert.equal(rowText(t.lines[SCROLLBACK - 1]), `line${SCROLLBACK + 7}`);
        assert.deepEqual(screenText(t), [`line${SCROLLBACK + 8}`, `line${SCROLLBACK + 9}`, '']);
    });
});

describe('what the screen passes over', () => {
    test('other sequences, controls and bytes of 0x80 and above show nothing and move nothing', () => {
        const odd =
            `a${ESC}[?25l${ESC}[5Ab${ESC}]0;title\x07c${ESC}]2;x${ESC}\\d${ESC}(Be${ESC}7f` +
            '\x00\x01\x05\x07\x0b\x0c\x0e\x7fg\x80\xc3\xa9\xffh' +
            `${ESC}[31\x18i${ESC}[>1mj${ESC}P1;2|x${ESC}\\k`;
        const t = written(20, 2, odd);
        assert.deepEqual(screenText(t), ['abcdefghijk', '']);
        assert.equal(colours(t, 0), '.'.repeat(20));
    });

    test('a sequence cut between two writes goes on in the next', () => {
        const t = newCells(6, 1);
        write(t, `a${ESC}`);
        write(t, '[3');
        write(t, '3mb');
        assert.equal(rowText(screenRow(t, 0)), 'ab');
        assert.equal(colours(t, 0), '.3....');
    });

    test('a string of characters above 0xff is passed over, not cut to a byte', () => {
        const t = newCells(6, 1);
        write(t, 'a\u011bb\u0141c');
        assert.equal(rowText(screenRow(t, 0)), 'abc');
    });

    test('random bytes in random pieces: no throw, and every row and the cursor keep their shape', () => {
        let seed = 20261208;
        const random = () => {
            seed = (seed * 1103515245 + 12345) >>> 0;
            return seed >>> 8;
        };
        // Bytes weighted towards what moves the screen: escapes, line ends, digits and finals.
        const favoured = bytes(`${ESC}${ESC}[[;;0123456789mHJ\r\n\b\t \x07]`);
        const t = newCells(13, 5);
        for (let chunk = 0; chunk < 5000; ++chunk) {
            const piece = new Uint8Array(1 + (random() % 40));
            for (let i = 0; i < piece.length; ++i) piece[i] = random() % 3 ? favoured[random() % favoured.length] : random() % 256;
            write(t, piece);
            if (chunk % 997 === 0) resize(t, 5 + (random() % 20), 2 + (random() % 8));
        }
        assert.ok(t.x >= 0 && t.x < t.columns && t.y >= 0 && t.y < t.rows);
        assert.ok(keptRows(t) >= 0 && keptRows(t) <= SCROLLBACK);
        for (const row of t.lines) {
            assert.equal(row.chars.length, t.columns);
            assert.ok(row.chars.every((c) => c.length === 1 && c >= ' ' && c <= '~'));
        }
    });
});

describe('a new size', () => {
    test('a wrapped line joins and wraps again at the new width, the cursor on its character', () => {
        const t = written(4, 4, `abcdefghij\r\nxy`);
        assert.deepEqual(screenText(t), ['abcd', 'efgh', 'ij', 'xy']);
        resize(t, 6, 4);
        assert.deepEqual(screenText(t), ['abcdef', 'ghij', 'xy', '']);
        assert.deepEqual(cursorOf(t), { x: 2, y: 2, pendingWrap: false });
        resize(t, 3, 4);
        assert.deepEqual(screenText(t), ['def', 'ghi', 'j', 'xy']);
        assert.deepEqual(t.lines.slice(0, keptRows(t)).map(rowText), ['abc']);
        assert.deepEqual(cursorOf(t), { x: 2, y: 3, pendingWrap: false });
    });

    test('fewer rows keep the rows down to the cursor; more bring kept rows back', () => {
        const t = written(5, 6, `${CLEAR}1\r\n2\r\n3\r\n`);
        resize(t, 5, 3);
        assert.deepEqual(screenText(t), ['2', '3', '']);
        assert.deepEqual(cursorOf(t), { x: 0, y: 2, pendingWrap: false });
        resize(t, 5, 6);
        assert.deepEqual(screenText(t), ['1', '2', '3', '', '', '']);
        assert.deepEqual(cursorOf(t), { x: 0, y: 3, pendingWrap: false });
        // A screen whose text ends above the fewer rows loses nothing.
        const u = written(5, 6, 'top');
        resize(u, 5, 2);
        assert.deepEqual(screenText(u), ['top', '']);
        assert.equal(keptRows(u), 0);
    });

    test('a cursor waiting to wrap still waits at the new width when its line ends at the margin', () => {
        // A cursor that was not waiting goes on after the line's last character, on a row of its own.
        const t = written(4, 3, 'abcdef');
        resize(t, 3, 3);
        assert.deepEqual(screenText(t), ['abc', 'def', '']);
        assert.deepEqual(cursorOf(t), { x: 0, y: 2, pendingWrap: false });
        const u = written(3, 3, 'abcdef');
        resize(u, 2, 3);
        assert.deepEqual(screenText(u), ['ab', 'cd', 'ef']);
        assert.deepEqual(cursorOf(u), { x: 1, y: 2, pendingWrap: true });
        write(u, 'g');
        assert.deepEqual(screenText(u), ['cd', 'ef', 'g']);
    });

    test('colours move with their characters', () => {
        const t = written(4, 3, `ab${ESC}[31mcd${ESC}[0mef`);
        resize(t, 3, 3);
        assert.equal(colours(t, 0), '..1');
        assert.equal(colours(t, 1), '1..');
    });
});

describe('keys', () => {
    const key = (k, mods = {}) => keyBytes({ key: k, ctrlKey: false, altKey: false, shiftKey: false, metaKey: false, ...mods });
    test('what each key sends', () => {
        assert.equal(key('a'), 'a');
        assert.equal(key('K', { shiftKey: true }), 'K');
        assert.equal(key('Enter'), '\r');
        assert.equal(key('Backspace'), '\x7f');
        assert.equal(key('Tab'), '\t');
        assert.equal(key('Tab', { shiftKey: true }), '\x1b[Z');
        assert.equal(key('Escape'), '\x1b');
        assert.deepEqual(['ArrowUp', 'ArrowDown', 'ArrowRight', 'ArrowLeft'].map((k) => key(k)), ['\x1b[A', '\x1b[B', '\x1b[C', '\x1b[D']);
        assert.equal(key('ArrowUp', { ctrlKey: true }), '\x1b[1;5A');
        assert.equal(key('Delete'), '\x1b[3~');
        assert.equal(key('F1'), '\x1bOP');
        assert.equal(key('a', { altKey: true }), '\x1ba');
        // AltGr, or Ctrl and Alt together, and the Mac's Option make characters of their own.
        assert.equal(key('@', { ctrlKey: true, altKey: true }), '@');
        assert.equal(key('q', { ctrlKey: true, altKey: true }), '\x1b\x11');
        assert.equal(keyBytes({ key: '{', ctrlKey: true, altKey: true, getModifierState: (m) => m === 'AltGraph' }), '{');
        assert.equal(key('\u00e5', { altKey: true }), '\u00e5');
    });

    test('Ctrl keys send their control bytes; the browser keeps copy, paste and its own keys', () => {
        const ctrl = (k, mods = {}) => key(k, { ctrlKey: true, ...mods });
        assert.deepEqual(['c', '\\', 'z', 'd', 'u', 'w', 'C'].map((k) => ctrl(k)), ['\x03', '\x1c', '\x1a', '\x04', '\x15', '\x17', '\x03']);
        assert.equal(ctrl('['), '\x1b');
        assert.equal(keyBytes({ key: 'c', ctrlKey: true }, true), null);
        assert.equal(ctrl('v'), null);
        assert.equal(ctrl('I', { shiftKey: true }), null);
        assert.equal(key('c', { metaKey: true }), null);
        assert.equal(key('Shift', { shiftKey: true }), null);
        assert.equal(pastedBytes('ab\r\ncd\ne'), 'ab\rcd\re');
    });
});
