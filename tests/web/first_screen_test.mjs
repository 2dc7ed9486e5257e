// The first screen the build writes into the game's page (web/first-screen.mjs), under node: the
// page's bytes are the Linux program's first output, its rows those bytes drawn, and the build's
// check refuses a page with any difference planted in its rows or its bytes.
//
//   node first_screen_test.mjs --page DIR --program LINUX_PROGRAM --marks MARKS_LIBRARY
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { ATTRIBUTE, firstOutput, firstScreenFault } from '../../web/first-screen.mjs';
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
