// The screen's colours, under node, as the page's style sheets give them: each of the game's
// eight colours reads at the contrast ratio of 4.5:1 or more (WCAG AA) against the screen's black,
// as text and as the reversed end word (black text on the colour), stays the colour the game
// names, and is defined in page.css alone, which the game's page, the watchers' page and a run's
// sheet share.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

const WEB = path.join(path.dirname(fileURLToPath(import.meta.url)), '../../web');
const AA = 4.5;

// The rules of a style sheet: [{selector, declarations: {property: value}}], comments left out.
// The page's sheets have no nested rules but @media and @font-face, whose insides are left out.
function rulesOf(css) {
    const text = css.replace(/\/\*[\s\S]*?\*\//g, '');
    const rules = [];
    let depth = 0;
    let start = 0;
    let selector = '';
    let nested = false;
    for (let i = 0; i < text.length; ++i) {
        if (text[i] === '{') {
            if (depth === 0) {
                selector = text.slice(start, i).trim();
                nested = selector.startsWith('@');
            }
            depth += 1;
            start = i + 1;
        } else if (text[i] === '}') {
            depth -= 1;
            if (depth === 0 && !nested) {
                const declarations = {};
                for (const part of text.slice(start, i).split(';')) {
                    const colon = part.indexOf(':');
                    if (colon > 0) declarations[part.slice(0, colon).trim()] = part.slice(colon + 1).trim();
                }
                for (const one of selector.split(',')) rules.push({ selector: one.trim(), declarations });
            }
            start = i + 1;
        }
    }
    return rules;
}

// The value of `property` in the last rule for `selector`, its var() looked up in :root.
function valueOf(rules, selector, property) {
    const root = Object.assign({}, ...rules.filter((r) => r.selector === ':root').map((r) => r.declarations));
    const found = rules.filter((r) => r.selector === selector && property in r.declarations).pop();
    if (!found) return null;
    return found.declarations[property].replace(/var\((--[\w-]+)\)/g, (_, name) => root[name] ?? `<no ${name}>`);
}

// #rgb or #rrggbb as [r, g, b], 0..255.
function rgbOf(colour) {
    const m = /^#([0-9a-f]{3}|[0-9a-f]{6})$/i.exec(colour ?? '');
    if (!m) throw new Error(`${colour} is not a colour of the form #rgb or #rrggbb`);
    const hex = m[1].length === 3 ? Array.from(m[1], (c) => c + c).join('') : m[1];
    return [0, 2, 4].map((at) => parseInt(hex.slice(at, at + 2), 16));
}

// The relative luminance and the contrast ratio, as WCAG 2 defines them.
function luminance(colour) {
    const [r, g, b] = rgbOf(colour).map((c) => {
        const s = c / 255;
        return s <= 0.04045 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
    });
    return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}
function contrast(a, b) {
    const [light, dark] = [luminance(a), luminance(b)].sort((x, y) => y - x);
    return (light + 0.05) / (dark + 0.05);
}

// The hue in degrees (0..360) and the saturation (0..1) of HSL.
function hueOf(colour) {
    const [r, g, b] = rgbOf(colour).map((c) => c / 255);
    const max = Math.max(r, g, b);
    const min = Math.min(r, g, b);
    const chroma = max - min;
    const lightness = (max + min) / 2;
    const saturation = chroma === 0 ? 0 : chroma / (1 - Math.abs(2 * lightness - 1));
    let hue = 0;
    if (chroma > 0) {
        if (max === r) hue = 60 * (((g - b) / chroma + 6) % 6);
        else if (max === g) hue = 60 * ((b - r) / chroma + 2);
        else hue = 60 * ((r - g) / chroma + 4);
    }
    return { hue, saturation };
}

// What each of the game's colours must stay: a hue between `from` and `to` degrees (through 0
// where from > to) and a saturation of at least 0.4, or a grey.
const NAMED = [
    { name: 'black, shown as a grey', grey: true },
    { name: 'red', from: 345, to: 15 },
    { name: 'green', from: 75, to: 150 },
    { name: 'yellow', from: 40, to: 65 },
    { name: 'blue', from: 200, to: 245 },
    { name: 'magenta', from: 280, to: 330 },
    { name: 'cyan', from: 170, to: 200 },
    { name: 'white, shown as a light grey', grey: true },
];
const GREY = 0.15; // the most saturation a grey may have

// Whether `colour` is the colour `named` names.
function looksLike(colour, named) {
    const { hue, saturation } = hueOf(colour);
    if (named.grey) return saturation <= GREY;
    const inRange = named.from > named.to ? hue >= named.from || hue <= named.to : hue >= named.from && hue <= named.to;
    return saturation >= 0.4 && inRange;
}

const sheet = (name) => rulesOf(fs.readFileSync(path.join(WEB, name), 'utf8'));

describe("the screen's colours", () => {
    const page = sheet('page.css');
    const black = valueOf(page, '.term', 'background');
    const reversedText = valueOf(page, '.rev', 'color');

    test('the screen is black and the reversed word black on its colour', () => {
        assert.equal(luminance(black), 0, `the screen's background is ${black}`);
        assert.equal(luminance(reversedText), 0, `the reversed word's text is ${reversedText}`);
        assert.ok(contrast(valueOf(page, '.term', 'color'), black) >= AA, "the screen's own text does not read");
        assert.ok(contrast(valueOf(page, '.rev', 'background'), reversedText) >= AA, 'the reversed usual colour does not read');
    });

    NAMED.forEach((named, n) => {
        test(`colour ${n}, ${named.name}`, () => {
            const text = valueOf(page, `.c${n}`, 'color');
            const reversed = valueOf(page, `.rev.c${n}`, 'background');
            assert.equal(reversed, text, `colour ${n} is ${text} as text and ${reversed} reversed`);
            const ratio = contrast(text, black);
            assert.ok(ratio >= AA, `colour ${n} (${text}) stands at ${ratio.toFixed(2)}:1 against ${black}, under ${AA}:1`);
            const back = contrast(reversedText, reversed);
            assert.ok(back >= AA, `the reversed colour ${n} (${reversed}) stands at ${back.toFixed(2)}:1 to its text, under ${AA}:1`);
            assert.ok(looksLike(text, named), `colour ${n} (${text}) is not ${named.name}: ${JSON.stringify(hueOf(text))}`);
        });
    });

    test('no other style sheet colours the screen', () => {
        const others = fs.readdirSync(WEB).filter((name) => name.endsWith('.css') && name !== 'page.css');
        assert.ok(others.length > 0, 'no other style sheet found');
        for (const name of others) {
            const colouring = sheet(name).filter((r) => /\.(c[0-7]|rev|term)\b/.test(r.selector) || r.selector === ':root');
            assert.deepEqual(colouring.map((r) => r.selector), [], `${name} colours the screen`);
        }
    });

    // The checks themselves, on colours whose answers are known.
    test('the measures', () => {
        assert.equal(contrast('#fff', '#000'), 21);
        assert.equal(contrast('#000', '#000'), 1);
        assert.ok(Math.abs(contrast('#767676', '#fff') - 4.54) < 0.01);
        assert.ok(contrast('#cc0000', '#000') < AA && contrast('#3465a4', '#000') < AA, 'the old red and blue pass');
        assert.ok(looksLike('#ff0000', NAMED[1]) && !looksLike('#ff8000', NAMED[1]) && !looksLike('#884444', NAMED[1]));
        assert.ok(looksLike('#0000ff', NAMED[4]) && !looksLike('#8000ff', NAMED[4]) && !looksLike('#808080', NAMED[4]));
        assert.ok(looksLike('#808080', NAMED[0]) && !looksLike('#906060', NAMED[0]));
        const parsed = rulesOf(':root{--a:#123}/* .c1 { color: red } */ .x, .y { color: var(--a); } @media (x) { .x { color: #fff } }');
        assert.equal(valueOf(parsed, '.y', 'color'), '#123');
        assert.equal(valueOf(parsed, '.x', 'color'), '#123');
        assert.equal(valueOf(parsed, '.c1', 'color'), null);
    });
});
