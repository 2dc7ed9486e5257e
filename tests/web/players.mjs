// The player's page and the run's page, driven in any engine (drivers.mjs), on a hall whose
// database is in `folder`: names of control bytes, of markup, and of 1,000 bytes (a run kept
// before names had a limit, written into the database as such a hall kept it) show as the text
// the hall gives, never as markup, on both pages; the run's page draws the sheet the hall sends
// on its terminal, row for row, and links to the player's page and to the replay.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { encodeRun } from '../../web/runs/run-link.js';

const json = async (address) => (await fetch(address)).json();

async function post(origin, keys, version) {
    const body = await encodeRun({ keys, clock: null, version });
    const response = await fetch(`${origin}/api/runs`, { method: 'POST', headers: { 'Content-Type': 'text/plain' }, body });
    return { status: response.status, body: await response.json() };
}

// A run kept under a 1,000-byte name, as a hall kept runs before names had a limit: the
// record of `like` under that name and an id of its own, straight into the database.
function keepLongName(folder, like, name, id) {
    const script = `
import sqlite3, sys
db = sqlite3.connect(sys.argv[1], timeout=30)
db.execute("INSERT INTO runs (id, name, seed, clock, version, ending, level, experience, boss, keys, mode, submitted, link)"
           " VALUES (?, ?, ?, 0, ?, ?, ?, ?, ?, ?, ?, 1796947200, ?)",
           (sys.argv[2], bytes.fromhex(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6], int(sys.argv[7]),
            int(sys.argv[8]), int(sys.argv[9]), int(sys.argv[10]), sys.argv[11], sys.argv[12]))
db.commit()`;
    const r = like;
    const args = [id, Buffer.from(name, 'latin1').toString('hex'), r.seed, r.version, r.ending, r.level, r.experience, r.boss ? 1 : 0, r.keys, r.mode, r.run];
    const done = spawnSync('python3', ['-c', script, path.join(folder, 'hall.db'), ...args.map(String)], { encoding: 'utf8', timeout: 30000 });
    if (done.status !== 0) throw new Error(`python3 could not write the run: ${done.error ?? done.stderr}`);
}

// What the pages show of a name, read from the page; no element made of the name's markup.
const playerShown = () => ({
    name: document.getElementById('player-name').textContent,
    runs: Array.from(document.querySelectorAll('#player-runs tbody a'), (a) => a.getAttribute('href')),
    markup: document.querySelectorAll('main img, main b, main i, main script').length,
    said: document.getElementById('player-said').textContent,
});
const runShown = () => ({
    name: document.getElementById('run-name').textContent,
    player: document.querySelector('#run-name a')?.getAttribute('href') ?? null,
    replay: document.getElementById('run-replay').getAttribute('href'),
    markup: document.querySelectorAll('main img, main b, main i, main script').length,
    sheet: window.marrowdeep.sheet,
    rows: window.marrowdeep.rows(),
    facts: document.getElementById('sheet-facts').textContent,
});

// What is wrong with the page's fit to its window: anything wider than the window (a table that
// scrolls sideways), and on the run's page the sheet's terminal narrower than its column while its
// font is under the usual 15 px, or taller than the sheet's rows and the cursor's.
export const fitFaults = () => {
    const faults = [];
    const wide = Array.from(document.querySelectorAll('main, main *')).filter((e) => e.scrollWidth > e.clientWidth + 1 && e.clientWidth > 0);
    if (document.documentElement.scrollWidth > window.innerWidth) faults.push(`the page is ${document.documentElement.scrollWidth} px wide in a ${window.innerWidth} px window`);
    for (const e of wide) faults.push(`${e.tagName}${e.id ? `#${e.id}` : ''} holds ${e.scrollWidth} px in ${e.clientWidth}`);
    const terminal = document.getElementById('terminal');
    if (terminal && window.marrowdeep.sheet !== null) {
        const box = terminal.getBoundingClientRect();
        const column = terminal.parentElement.clientWidth;
        const font = parseFloat(terminal.style.getPropertyValue('--font-size'));
        if (box.width < column * 0.9 && font < 15) faults.push(`the sheet is ${box.width} px wide at ${font} px in a column of ${column}`);
        const rowHeight = parseFloat(terminal.style.getPropertyValue('--row-height'));
        const rows = window.marrowdeep.rows().length;
        if (box.height > (rows + 0.5) * rowHeight) faults.push(`the sheet is ${box.height} px tall for ${rows} rows of ${rowHeight} px`);
    }
    return faults;
};

export async function playerAndRunPages(driver, { origin, folder }) {
    const { version } = await json(`${origin}/api/health`);
    const control = 'ctl\x01\x1b[31m\x7f';
    const markup = '<img/src=x/onerror=alert(1)><b>&amp;';
    const long = '<i>&\x1b'.repeat(200);
    const names = [
        { keys: `${control}\nn\n43\n1\nq`, shown: 'ctl^A^[[31m^?' },
        { keys: `${markup}\nn\n44\n1\nq`, shown: markup },
    ];
    const records = [];
    for (const { keys } of names) {
        const sent = await post(origin, keys, version);
        assert.ok(sent.status === 201 || sent.status === 200, `players: the hall answered ${JSON.stringify(sent)}`);
        records.push(await json(`${origin}/api/runs/${sent.body.id}`));
    }
    const longId = 'f'.repeat(32);
    keepLongName(folder, records[0], long, longId);
    names.push({ shown: `${'<i>&^['.repeat(8)}...` });
    records.push({ id: longId });

    for (const [i, { shown }] of names.entries()) {
        const record = await json(`${origin}/api/runs/${records[i].id}`);
        assert.equal(record.name, shown, `players: the hall's record of name ${i}`);
        const sheet = await (await fetch(`${origin}/api/runs/${record.id}/sheet`)).text();

        await driver.goto(`${origin}/run.html?id=${record.id}`);
        await driver.waitFor(() => window.marrowdeep?.shown === true, 60, `the run page of name ${i}`);
        const run = await driver.evaluate(runShown);
        assert.equal(run.name, shown, `players: the run page shows name ${i} as ${JSON.stringify(run.name)}`);
        assert.equal(run.player, `player.html?name=${record.player}`, `players: the run page's link of name ${i}`);
        assert.equal(run.replay, `index.html#run=${record.run}`, `players: the run page's replay of name ${i}`);
        assert.equal(run.markup, 0, `players: the run page of name ${i} made markup of it`);
        assert.equal(run.sheet, sheet, `players: the run page of name ${i} holds another sheet`);
        // The terminal's rows: the sheet's status screen, row for row; its facts under it.
        const lines = sheet.split('\n');
        const end = lines.indexOf('');
        const screen = lines.slice(0, end).map((l) => l.trimEnd());
        assert.deepEqual(run.rows, [...screen, ''], `players: the sheet drawn for name ${i}`);
        assert.deepEqual(await driver.evaluate(fitFaults), [], `players: the run page of name ${i} in its window`);
        assert.equal(run.facts, lines.slice(end + 1).join('\n'), `players: the facts under the sheet of name ${i}`);

        await driver.goto(`${origin}/player.html?name=${record.player}`);
        await driver.waitFor(() => window.marrowdeep?.shown === true, 60, `the player page of name ${i}`);
        const player = await driver.evaluate(playerShown);
        const want = { name: shown, runs: [`run.html?id=${record.id}`], markup: 0, said: '' };
        assert.deepEqual(player, want, `players: the player page of name ${i}`);
        assert.deepEqual(await driver.evaluate(fitFaults), [], `players: the player page of name ${i} in its window`);
    }
}
