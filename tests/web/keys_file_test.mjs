// Files of keys made into runs, under node: a file the page saved goes as it is; keys typed in a
// terminal (alone, or framed by script's first and last lines) become the bytes the game read
// through the terminal's line discipline; a game seeded by the clock or a file of no keys is
// refused with its sentence.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { keysRead, runOfFile } from '../../web/runs/keys-file.js';

const CLOCK = 'This game took its seed from the clock, and a file of keys does not hold the second it read, so it cannot be proven.';

describe('keys typed in a terminal', () => {
    test('Enter is read as a line end, and Backspace mends the name before the game reads it', () => {
        assert.equal(keysRead('terx\x7fm\rn\r31\r1\rddq'), 'term\nn\n31\n1\nddq');
    });
    test('Ctrl-U erases the line, Ctrl-W a word and the blanks before it', () => {
        assert.equal(keysRead('abc\x15hero\rn\r1\r1\r'), 'hero\nn\n1\n1\n');
        assert.equal(keysRead('bad word\x17\x17hero\rn\r1\r'), 'hero\nn\n1\n');
    });
    test('after the name every key reaches the game as typed, Backspace and Ctrl-U too', () => {
        assert.equal(keysRead('hero\rn\r1\r1\rd\x7fw\x15s'), 'hero\nn\n1\n1\nd\x7fw\x15s');
    });
    test('blank lines before the name keep the line kept', () => {
        assert.equal(keysRead('\r  \rhe\x7f\x7fhero\rn\r'), '\n  \nhero\nn\n');
    });
    test('Ctrl-C or Ctrl-\\ ends the game there, and Ctrl-D on an empty line ends the input', () => {
        assert.equal(keysRead('hero\rn\r1\r1\rdd\x03ss'), 'hero\nn\n1\n1\ndd');
        assert.equal(keysRead('hero\rn\r1\r1\rd\x1cs'), 'hero\nn\n1\n1\nd');
        assert.equal(keysRead('\x04hero\r'), '');
        // Ctrl-D on a line with keys sends them without a line end.
        assert.equal(keysRead('he\x04ro\rn\r'), 'hero\nn\n');
    });
});

describe('a file of keys as a run', () => {
    test('a file the page saved goes as it is, with no clock second', () => {
        const saved = 'hero\nn\n42\n1\nd\x7f\rq';
        assert.deepEqual(runOfFile(saved, '2.3'), { run: { keys: saved, clock: null, version: '2.3' } });
    });
    test("script's log loses its first and last lines and reads as typed keys", () => {
        const log =
            'Script started on 2026-12-08 14:58:51+00:00 [COMMAND="marrowdeep" <not executed on terminal>]\n' +
            'heroo\x7f\rn\r5\r1\rq\n' +
            'Script done on 2026-12-08 14:58:51+00:00 [COMMAND_EXIT_CODE="0"]\n';
        assert.deepEqual(runOfFile(log, '2.3'), { run: { keys: 'hero\nn\n5\n1\nq', clock: null, version: '2.3' } });
        // Keys typed alone, without script's lines, read the same.
        assert.deepEqual(runOfFile('heroo\x7f\rn\r5\r1\rq', '2.3').run.keys, 'hero\nn\n5\n1\nq');
    });
    test('a game seeded by the clock cannot be sent from a file', () => {
        assert.deepEqual(runOfFile('hero\ny\n1\nq', '2.3'), { error: CLOCK });
        assert.deepEqual(runOfFile('hero\r y\r1\rq', '2.3'), { error: CLOCK });
        // A seed of digits, or of no digits (0), is no clock's.
        assert.equal(runOfFile('hero\nn\nyes\n1\nq', '2.3').run.keys, 'hero\nn\nyes\n1\nq');
    });
    test('a file of no keys, or only of keys erased, is refused', () => {
        assert.deepEqual(runOfFile('', '2.3'), { error: 'This file holds no keys.' });
        assert.deepEqual(runOfFile('ab\x7f\x7f\x04\r', '2.3'), { error: 'This file holds no keys.' });
    });
});
