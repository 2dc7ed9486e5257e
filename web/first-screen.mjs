// The page's first screen, made by the build: what the game shows before its first key read is
// always the same (the clear and the name question), so the build plays the web build's own game
// (marrowdeep.js and marrowdeep.wasm, under node) to that read and writes the screen it shows into
// index.html, as the rows the page's screen draws (terminal/draw.js), so that the question shows as
// soon as the page and its style have come, before any script. The bytes go beside the rows, for
// the page to hold the game's first output against when the game starts.
//
//   node first-screen.mjs --game DIR --template index.html --output OUT   writes OUT, then checks it
//   node first-screen.mjs --game DIR --check FILE                         checks FILE
//
// The check plays the game again and fails unless the file's bytes are the game's and its rows are
// what those bytes draw: a page whose first screen is not the game's is never built.
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';
import vm from 'node:vm';
import { newCells, runsOf, write } from './terminal/cells.js';
import { classOf } from './terminal/draw.js';

// What the page's screen is given for a clear (game/session.js).
const CLEAR = '\x1b[H\x1b[2J\x1b[3J';
// The terminal of a desktop window (terminal/fit.js): the page fits it to its window as it starts.
const COLUMNS = 100;
const ROWS = 40;
// Where the terminal goes in the page's source, and the attribute that holds the first screen's bytes.
const PLACE = '<div id="terminal"></div>';
export const ATTRIBUTE = 'data-first-screen';

// The bytes the game gives the page's screen before its first key read, as one character per
// byte: each clear as the page draws it, then what the game wrote. `dir` holds the game's files.
export async function firstOutput(dir) {
    const context = vm.createContext({ console, WebAssembly, setTimeout, clearTimeout, TextDecoder, TextEncoder });
    vm.runInContext(fs.readFileSync(path.join(dir, 'marrowdeep.js'), 'utf8'), context, { filename: 'marrowdeep.js' });
    const code = await WebAssembly.compile(fs.readFileSync(path.join(dir, 'marrowdeep.wasm')));
    let shown = '';
    let reached;
    const firstRead = new Promise((resolve) => (reached = resolve));
    const never = new Promise(() => {});
    const page = {
        write: (bytes) => (shown += Buffer.from(bytes).toString('latin1')),
        clear: () => (shown += CLEAR),
        started() {},
        keyMode() {},
        clock: () => 0,
        pause: () => false,
        pauseEnd: () => never,
        // The first read: the screen is what it shows then. The game waits for ever.
        take() {
            reached();
            return null;
        },
        read: () => never,
    };
    const game = await context.createMarrowdeep({
        page,
        instantiateWasm(imports, receive) {
            WebAssembly.instantiate(code, imports).then((made) => receive(made));
            return {};
        },
        print() {},
        printErr() {},
    });
    game.ccall('main', 'number', [], [], { async: true });
    await firstRead;
    return shown;
}

const escapeText = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

// The bytes as the attribute's text: printable ASCII as it is but for the backslash, every other
// byte as \xHH. The page reads it back with firstScreenBytes() (terminal/first-screen.js).
function encoded(bytes) {
    let text = '';
    for (const ch of bytes) {
        const code = ch.charCodeAt(0);
        text += code >= 0x20 && code < 0x7f && ch !== '\\' ? ch : '\\x' + code.toString(16).padStart(2, '0');
    }
    return escapeText(text).replace(/"/g, '&quot;');
}

// The terminal's markup showing `bytes`: the elements terminal/view.js makes, with the rows as
// draw.js draws them, but for the sizes and the cursor's place, which the page's script sets as it
// fits the screen to the window (the page's policy allows no style in its markup).
export function terminalMarkup(bytes) {
    const cells = newCells(COLUMNS, ROWS);
    write(cells, Uint8Array.from(bytes, (ch) => ch.charCodeAt(0)));
    const rows = cells.lines.map((row) => {
        const runs = runsOf(row).map(({ attr, text }) => {
            const name = classOf(attr);
            return name ? `<span class="${name}">${escapeText(text)}</span>` : escapeText(text);
        });
        return `<div class="term-row">${runs.join('')}</div>`;
    });
    return (
        `<div id="terminal" ${ATTRIBUTE}="${encoded(bytes)}">` +
        '<div class="term" tabindex="0" role="region" aria-label="The game"><div class="term-lines">' +
        rows.join('') +
        '<div class="term-cursor" aria-hidden="true"></div></div></div>' +
        '<div class="term-said" aria-live="polite"></div></div>'
    );
}

// The first difference between `got` and `want`, with some of each around it, or null.
function parting(got, want) {
    if (got === want) return null;
    let at = 0;
    while (at < got.length && at < want.length && got[at] === want[at]) ++at;
    const around = (s) => JSON.stringify(s.slice(Math.max(0, at - 60), at + 60));
    return `they part at character ${at}:\n  the page has ...${around(got)}\n  the game's   ...${around(want)}`;
}

// What is wrong with the page `html` against the game's first screen `bytes`: null when the page
// shows exactly that screen, else a sentence that says where it differs.
export function firstScreenFault(html, bytes) {
    const start = html.indexOf('<div id="terminal"');
    if (start < 0 || html.indexOf('<div id="terminal"', start + 1) >= 0) return 'the page has no one terminal';
    const want = terminalMarkup(bytes);
    const difference = parting(html.slice(start, start + want.length), want);
    return difference && `the page's first screen is not the game's: ${difference}`;
}

async function main() {
    const { values: opt } = parseArgs({
        options: { game: { type: 'string' }, template: { type: 'string' }, output: { type: 'string' }, check: { type: 'string' } },
    });
    if (!opt.game || !(opt.check || (opt.template && opt.output))) {
        throw new Error('usage: first-screen.mjs --game DIR (--template FILE --output FILE | --check FILE)');
    }
    let file = opt.check;
    if (!file) {
        const template = fs.readFileSync(opt.template, 'utf8');
        if (template.split(PLACE).length !== 2) throw new Error(`${opt.template} must hold ${PLACE} once`);
        // Written aside and checked against the game played again before it takes the page's name.
        file = `${opt.output}.new`;
        fs.writeFileSync(file, template.replace(PLACE, terminalMarkup(await firstOutput(opt.game))));
    }
    const fault = firstScreenFault(fs.readFileSync(file, 'utf8'), await firstOutput(opt.game));
    if (fault) {
        if (!opt.check) fs.rmSync(file);
        console.error(`${opt.check ?? opt.output}: ${fault}`);
        process.exit(1);
    }
    if (!opt.check) fs.renameSync(file, opt.output);
}

if (process.argv[1] && path.resolve(process.argv[1]) === import.meta.filename) await main();
