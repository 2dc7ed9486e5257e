// A player's page (player.html?name=NAME): whether a key holds the name, the player's totals,
// the best run on each seed and its place on that seed's board, the days they played the day's
// seed and their place on that day's board (or their practice), and their runs, the newest first, a page at a time
// (&before=ID: the runs before that one). NAME is the name's bytes as an address writes them,
// and goes to the hall as it is, so every byte of a name reaches it, whatever the name holds.
//
// For tests, window.marrowdeep.shown is true once the page shows the hall's answer.

import { playerOf } from './hall/api.js';
import { cell, figures, fillRows, linkCell, runPage, sentAt } from './hall/run-rows.js';

const PAGE = 50;
const ADDRESS = /^[A-Za-z0-9._~%!$&'()*+,;=:@/-]*$/;

// The raw value of a query's parameter, its %XX left as they are; null when it has none.
function rawParameter(search, key) {
    for (const part of search.replace(/^\?/, '').split('&')) {
        const equals = part.indexOf('=');
        if ((equals < 0 ? part : part.slice(0, equals)) === key) return equals < 0 ? '' : part.slice(equals + 1);
    }
    return null;
}

document.addEventListener('DOMContentLoaded', async () => {
    window.marrowdeep = { shown: false };
    const said = document.getElementById('player-said');
    const player = rawParameter(window.location.search, 'name');
    const before = new URLSearchParams(window.location.search).get('before');
    if (!player || !ADDRESS.test(player)) {
        said.textContent = 'This address names no player.';
        window.marrowdeep.shown = true;
        return;
    }
    const answer = await playerOf(player, before, PAGE);
    window.marrowdeep.shown = true;
    if (!answer.ok) {
        said.textContent = answer.error;
        return;
    }
    const page = answer.body;
    document.getElementById('player-name').textContent = String(page.name);
    document.title = `Marrowdeep: ${page.name}`;
    document.getElementById('player-claim').textContent = page.claimed
        ? `This name belongs to the key ${page.key}: the hall keeps runs under it only when that key signs them.`
        : 'No key holds this name: its runs came without a signature.';
    const n = (x) => Number(x).toLocaleString('en');
    document.getElementById('player-totals').textContent =
        `${n(page.runs_kept)} ${page.runs_kept === 1 ? 'run' : 'runs'} kept, ${n(page.bosses)} with a boss beaten; the best level is ${page.best_level}.`;

    fillRows(document.getElementById('player-bests').tBodies[0], page.bests ?? [], (r) => [
        linkCell(`hall.html?seed=${encodeURIComponent(String(r.seed))}`, String(r.seed)),
        cell(String(r.place), 'place'),
        ...figures(r),
        cell(sentAt(r.submitted)),
        linkCell(runPage(r), 'The run'),
    ]);
    const days = page.days ?? [];
    document.getElementById('player-no-days').hidden = days.length > 0;
    document.getElementById('player-days').hidden = days.length === 0;
    // A day's place is their ranked attempt's; with none ranked, their best practice run shows,
    // and with no run on a board, nothing but the day.
    fillRows(document.getElementById('player-days').tBodies[0], days, (d) => [
        cell(String(d.date)),
        cell(String(d.seed), 'number'),
        cell(d.place === null ? (d.practice ? 'practice' : '') : String(d.place), 'place'),
        ...(d.run ? [...figures(d.run), linkCell(runPage(d.run), 'The run')] : []),
    ]);
    fillRows(document.getElementById('player-runs').tBodies[0], page.runs ?? [], (r) => [
        cell(sentAt(r.submitted)),
        cell(String(r.seed), 'number'),
        ...figures(r),
        linkCell(runPage(r), 'The run'),
    ]);
    const older = document.getElementById('player-older');
    if (typeof page.next === 'string') {
        older.href = `player.html?name=${player}&before=${encodeURIComponent(page.next)}`;
        older.hidden = false;
    }
    document.getElementById('player-facts').hidden = false;
});
