// A run's page (run.html?id=ID): the hall's record of it, its place on the boards it is on, a
// link that replays it on the game's page, and its sheet: the hero's status screen at its end,
// as the game draws it, on the page's own terminal screen, and the run's facts under it.
//
// For tests, window.marrowdeep tells when the page shows the hall's answers (shown), the sheet
// as the hall sent it, and the terminal's rows.

import { board, runOf, sheetOf } from './hall/api.js';
import { playerLink } from './hall/board.js';
import { sentAt } from './hall/run-rows.js';
import { ENDINGS } from './runs/run-facts.js';
import { sizeToShow } from './terminal/fit.js';
import { openView } from './terminal/view.js';
import { thousands } from './thousands.js';

const BOARD = 500; // the longest board the hall gives

function row(label, ...content) {
    const tr = document.createElement('tr');
    const th = document.createElement('th');
    th.textContent = label;
    const td = document.createElement('td');
    td.append(...content);
    tr.append(th, td);
    return tr;
}

// Where the run stands on one board: its place, or null when it is not on it.
async function placeOn(seed, id) {
    const answer = await board(seed, BOARD);
    if (!answer.ok) return null;
    const at = (answer.body.runs ?? []).findIndex((r) => r.id === id);
    return at < 0 ? null : at + 1;
}

async function places(record) {
    if (record.mode !== 'plain' || (record.ending !== 'quit' && record.ending !== 'fell'))
        return 'Only finished runs played without a hidden mode are on the boards.';
    const [seed, every] = await Promise.all([placeOn(record.seed, record.id), placeOn(null, record.id)]);
    const said = [
        seed ? `Number ${seed} on the board of seed ${record.seed}.` : `Not on the board of seed ${record.seed}: the name has a better run there.`,
    ];
    said.push(every ? `Number ${every} on the board of every seed.` : `Not among the first ${BOARD} of the board of every seed.`);
    return said.join(' ');
}

document.addEventListener('DOMContentLoaded', async () => {
    window.marrowdeep = { shown: false, sheet: null, rows: () => [] };
    const said = document.getElementById('run-said');
    const id = new URLSearchParams(window.location.search).get('id');
    if (!id || !/^[0-9a-f]{32}$/.test(id)) {
        said.textContent = 'This address names no run.';
        window.marrowdeep.shown = true;
        return;
    }
    const [kept, sheet] = await Promise.all([runOf(id), sheetOf(id)]);
    if (!kept.ok) {
        said.textContent = kept.error;
        window.marrowdeep.shown = true;
        return;
    }
    const record = kept.body;
    document.getElementById('run-name').append(playerLink(record));
    document.title = `Marrowdeep: a run of ${record.name}`;
    const seedLink = document.createElement('a');
    seedLink.href = `hall.html?seed=${encodeURIComponent(String(record.seed))}`;
    seedLink.textContent = String(record.seed);
    document.getElementById('run-record').tBodies[0].append(
        row('Name', playerLink(record)),
        row('Seed', seedLink, record.clock ? ' (from the clock)' : ''),
        row('Level', String(record.level)),
        row('Experience', thousands(record.experience)),
        row('Ending', ENDINGS[record.ending] ?? String(record.ending)),
        row('Boss', record.boss ? 'beaten' : 'no'),
        row('Keys', thousands(record.keys)),
        row('Mode', String(record.mode)),
        row('Build', String(record.version)),
        row('Sent', sentAt(record.submitted)),
        row('Signed', record.signed ? `by the key ${record.key}` : 'not signed'),
    );
    if (typeof record.run === 'string') document.getElementById('run-replay').href = `index.html#run=${record.run}`;
    document.getElementById('run-places').textContent = await places(record);
    document.getElementById('run-facts').hidden = false;

    if (!sheet.ok) {
        document.getElementById('sheet-said').textContent = sheet.error;
    } else {
        // The status screen on the terminal, as the game drew it; the run's facts below it.
        const lines = sheet.text.split('\n');
        const end = lines.indexOf('');
        const screenRows = end < 0 ? lines : lines.slice(0, end);
        // The terminal is as wide as the sheet's widest row and as tall as its rows and the row
        // the cursor ends on, in the largest font that fills the width the page has (a phone's
        // whole width), turned or not.
        const element = document.getElementById('terminal');
        const columns = Math.max(1, ...screenRows.map((line) => line.length));
        const space = () => ({ width: element.parentElement.clientWidth });
        const view = openView(element, space(), { sizeOf: (s) => sizeToShow(s, columns, screenRows.length + 1) });
        view.write(new TextEncoder().encode(screenRows.map((line) => `${line}\n`).join('')));
        window.addEventListener('resize', () => view.fit(space()));
        document.getElementById('sheet-facts').textContent = end < 0 ? '' : lines.slice(end + 1).join('\n');
        window.marrowdeep.sheet = sheet.text;
        window.marrowdeep.rows = () => view.rows();
    }
    window.marrowdeep.shown = true;
});
