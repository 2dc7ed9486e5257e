// The first screen the build writes into the game's page (web/first-screen.mjs), under node: the
// page's bytes are the Linux program's first output, its rows those bytes drawn, and the build's
// check refuses a page with any difference planted in its rows or its bytes. And the page's style
// sheet and first script the build writes into its head (web/inline-head.mjs): each is allowed by
// its own hash in the page's policy, and text that would be read as markup stops the build.
//
//   node first_screen_test.mjs --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { ATTRIBUTE, firstOutput, firstScreenFault } from '../../web/first-screen.mjs';
import { SCRIPT_TAG, STYLE_LINK, inlineHead } from '../../web/inline-head.mjs';
import { commandLine, linuxTools } from './harness.mjs';

const opt = commandLine(['page', 'program', 'marks']);
const { linuxBytes } = linuxTools(opt);
const CHECK = path.join(import.meta.dirname, '../../web/first-screen.mjs');
const html = fs.readFileSync(path.join(opt.page, 'index.html'), 'latin1');
const CLEAR = '\x1b[H\x1b[2J\x1b[3J';

// `html` with `from` replaced by `to` once, where it must be.
function planted(from, to) {
    assert.ok(html.includes(from), `the page has no ${JSON.stringify(from)} to plant a difference in`);
    return html.replace(from, to);
}

// Each a page with one difference: in the question's text, its place, its colour, the rows, the
// cursor, the bytes beside the rows, or the rows without their bytes.
const PLANTS = [
    ['a letter of the question', () => planted('<div class="term-row">Please insert your name:', '<div class="term-row">Please insert your nane:')],
    ['the question a row down', () => planted('<div class="term-row">Please insert your name:</div><div class="term-row"></div>', '<div class="term-row"></div><div class="term-row">Please insert your name:</div>')],
    ['the question in a colour', () => planted('<div class="term-row">Please insert your name:</div>', '<div class="term-row"><span class="c4">Please insert your name:</span></div>')],
    ['a row fewer', () => planted('<div class="term-row"></div>', '')],
    ['no cursor', () => planted('<div class="term-cursor" aria-hidden="true"></div>', '')],
    ['a byte of the bytes', () => planted(`${ATTRIBUTE}="\\x1b[H`, `${ATTRIBUTE}="\\x1b[J`)],
    ['the bytes without their clear', () => planted(`${ATTRIBUTE}="\\x1b[H\\x1b[2J\\x1b[3J`, `${ATTRIBUTE}="`)],
    ['the terminal twice', () => planted('</main>', '<div id="terminal"></div></main>')],
];

describe("the build's first screen", () => {
    let game;
    let scratch;
    before(async () => {
        game = await firstOutput(opt.page);
        scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'marrowdeep-first-screen-'));
    });
    after(() => fs.rmSync(scratch, { recursive: true, force: true }));

    // The build's check, as the build runs it: its exit status and what it said.
    const check = (text) => {
        const file = path.join(scratch, 'index.html');
        fs.writeFileSync(file, text, 'latin1');
        const run = spawnSync(process.execPath, [CHECK, '--game', opt.page, '--check', file], { encoding: 'utf8', timeout: 60000 });
        return { status: run.status, said: run.stderr };
    };

    it("is the Linux program's first output, up to its first read", () => {
        // The Linux program with the marks library writes each clear as <clear>.
        assert.equal(game.replaceAll(CLEAR, '<clear>'), linuxBytes(''));
        assert.ok(game.startsWith(CLEAR) && game.endsWith('Please insert your name:'), JSON.stringify(game));
    });

    it("is the page's, and the build's check passes it", () => {
        assert.equal(firstScreenFault(html, game), null);
        const { status, said } = check(html);
        assert.equal(status, 0, said);
        assert.match(html, /<div class="term-row">Please insert your name:<\/div>/);
    });

    for (const [what, make] of PLANTS) {
        it(`with ${what} planted, fails the build's check`, () => {
            const page = make();
            assert.notEqual(firstScreenFault(page, game), null, 'the difference passes');
            const { status, said } = check(page);
            assert.equal(status, 1, `the check ended with ${status}: ${said}`);
            assert.match(said, /the page's first screen is not the game's|the page has no one terminal/);
        });
    }
});

describe("the page's head", () => {
    // The policy's sources for a directive, as the page states it.
    const policy = html.match(/http-equiv="Content-Security-Policy"\s+content="([^"]*)"/)?.[1] ?? '';
    const sources = (directive) =>
        policy
            .split(';')
            .map((part) => part.trim().split(/\s+/))
            .find(([name]) => name === directive)
            ?.slice(1) ?? [];
    const sha256 = (text) => `'sha256-${crypto.createHash('sha256').update(Buffer.from(text, 'latin1')).digest('base64')}'`;
    const written = (element) => [...html.matchAll(new RegExp(`<${element}\\b([^>]*)>([\\s\\S]*?)</${element}>`, 'g'))];

    it('holds the style sheet and the first script, each allowed by its hash alone', () => {
        const styles = written('style');
        assert.equal(styles.length, 1);
        // The same style as the other pages' page.css.
        assert.equal(styles[0][2], fs.readFileSync(path.join(opt.page, 'page.css'), 'latin1'));
        assert.deepEqual(sources('style-src'), ["'self'", sha256(styles[0][2])]);
        const scripts = written('script');
        assert.equal(scripts.length, 1);
        assert.equal(scripts[0][1], ' type="module"');
        assert.match(scripts[0][2], /window\.marrowdeep=/);
        assert.deepEqual(sources('script-src'), ["'self'", "'wasm-unsafe-eval'", sha256(scripts[0][2])]);
        // Nothing else asked for but the font; the first script is no file of its own.
        assert.doesNotMatch(html, /<script[^>]*\ssrc=|rel="stylesheet"|rel="modulepreload"/);
        assert.ok(!fs.existsSync(path.join(opt.page, 'page.js')), 'page.js is served beside the page that holds it');
    });

    it('is never written with text the page would read as markup, nor without its places', () => {
        const template = `<meta http-equiv="Content-Security-Policy" content="script-src 'self'; style-src 'self'">${STYLE_LINK}${SCRIPT_TAG}`;
        const made = inlineHead(template, 'b{}', 'let a=1;');
        assert.equal(made, `<meta http-equiv="Content-Security-Policy" content="script-src 'self' ${sha256('let a=1;')}; style-src 'self' ${sha256('b{}')}"><style>b{}</style><script type="module">let a=1;</script>`);
        for (const [style, script] of [
            ['b{}', 'let a="</script>";'],
            ['b{}', 'let a="</SCRIPT ";'],
            ['b{}', 'let a="<!--";'],
            ['b{}', 'let a="<script>";'],
            ['b{content:"</style>"}', ''],
        ]) {
            assert.throws(() => inlineHead(template, style, script), /the page would read as markup/, JSON.stringify([style, script]));
        }
        assert.throws(() => inlineHead(template + SCRIPT_TAG, 'b{}', ''), /must hold/);
        assert.throws(() => inlineHead(template.replace(STYLE_LINK, ''), 'b{}', ''), /must hold/);
        assert.throws(() => inlineHead(template.replace('style-src', 'font-src'), 'b{}', ''), /no style-src/);
        assert.throws(() => inlineHead(`${STYLE_LINK}${SCRIPT_TAG}`, 'b{}', ''), /no Content-Security-Policy/);
    });
});
