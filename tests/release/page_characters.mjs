// Checks that the page's font has every character the page can show: printable ASCII, which is
// all the game writes, and every other character written in the page, its scripts and its style
// sheets, as themselves or as escapes (HTML entities, JavaScript's \u and \x, CSS's \hex).
// Control characters are never drawn and are left out.
//   node page_characters.mjs CMAP PAGE_FILE...
// CMAP is the font's character map as `ttx -t cmap` writes it. Prints each missing character and
// exits with status 1 when any is missing.
import fs from 'node:fs';
import path from 'node:path';

const ENTITIES = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'", nbsp: '\u00a0', middot: '\u00b7', times: '\u00d7' };

const fromCode = (hex) => String.fromCodePoint(parseInt(hex, 16));

// The text of a script or a style sheet, with its escapes read.
const scriptText = (text) =>
    text.replace(/\\u\{([0-9a-fA-F]+)\}|\\u([0-9a-fA-F]{4})|\\x([0-9a-fA-F]{2})/g, (_, a, b, c) => fromCode(a ?? b ?? c));
const styleText = (text) => text.replace(/\\([0-9a-fA-F]{1,6}) ?/g, (_, hex) => fromCode(hex));

// The text a file shows, with its escapes read; a page's own scripts and styles as scripts and
// styles.
function shown(file) {
    const text = fs.readFileSync(file, 'utf8');
    switch (path.extname(file)) {
        case '.html': {
            const written = [];
            const markup = text.replace(/<(script|style)\b[^>]*>([\s\S]*?)<\/\1>/gi, (_, element, inside) => {
                written.push(element.toLowerCase() === 'script' ? scriptText(inside) : styleText(inside));
                return '';
            });
            const page = markup.replace(/&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);/g, (whole, name) => {
                if (name.startsWith('#x')) return fromCode(name.slice(2));
                if (name.startsWith('#')) return String.fromCodePoint(Number(name.slice(1)));
                if (!(name in ENTITIES)) throw new Error(`${file}: the entity ${whole} is not known here`);
                return ENTITIES[name];
            });
            return [page, ...written].join('\n');
        }
        case '.js':
        case '.mjs':
            return scriptText(text);
        case '.css':
            return styleText(text);
        default:
            throw new Error(`${file}: not a page, script or style sheet`);
    }
}

const [cmapFile, ...files] = process.argv.slice(2);
const inFont = new Set(
    Array.from(fs.readFileSync(cmapFile, 'utf8').matchAll(/<map code="0x([0-9a-f]+)"/g), (m) => parseInt(m[1], 16)),
);
const control = (code) => code < 0x20 || (code >= 0x7f && code < 0xa0);
const needed = new Map(); // code -> the first file it is in
for (let code = 0x20; code < 0x7f; code += 1) needed.set(code, 'the game');
for (const file of files) {
    for (const character of shown(file)) {
        const code = character.codePointAt(0);
        if (!control(code) && !needed.has(code)) needed.set(code, path.basename(file));
    }
}
const hex = (code) => `U+${code.toString(16).toUpperCase().padStart(4, '0')}`;
const missing = [...needed].filter(([code]) => !inFont.has(code));
for (const [code, where] of missing) console.log(`the font has no ${hex(code)}, shown by ${where}`);
process.exit(missing.length ? 1 : 0);
