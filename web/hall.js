// The hall's boards: every seed's (hall.html), one seed's (?seed=N), today's (?day) and a past
// day's (?day=YYYY-MM-DD), whose practice runs follow its ranked ones. Each run opens as a replay
// on the game's page, through the link the hall keeps of it.

import { board, daily, rowsOf, runOf } from './hall/api.js';
import { showBoard } from './hall/board.js';

const LIMIT = 100;
const DAY_RULE =
    "Each name's first game of the day's seed played live from its first key is ranked; its other runs of the seed that day are practice.";

document.addEventListener('DOMContentLoaded', async () => {
    const title = document.getElementById('board-title');
    const said = document.getElementById('board-said');
    const table = document.getElementById('board');
    const rule = document.getElementById('day-rule');
    const form = document.getElementById('seed-form');
    const query = new URLSearchParams(window.location.search);

    form.addEventListener('submit', (e) => {
        e.preventDefault();
        const seed = form.elements.seed.value.trim();
        if (/^-?[0-9]+$/.test(seed)) window.location.search = `?seed=${seed}`;
    });

    async function replay(record, button) {
        button.disabled = true;
        const kept = await runOf(record.id);
        button.disabled = false;
        if (!kept.ok || typeof kept.body.run !== 'string') {
            said.textContent = kept.ok ? 'The hall did not give this run.' : kept.error;
            return;
        }
        window.location.assign(`index.html#run=${kept.body.run}`);
    }

    let answer;
    if (query.has('day')) {
        answer = await daily(query.get('day') || null);
        if (answer.ok) {
            title.textContent = `The board of ${answer.body.date}: seed ${answer.body.seed}`;
            rule.textContent = `${DAY_RULE}${answer.body.ended ? ' This day has ended: its board no longer changes.' : ''}`;
            rule.hidden = false;
        }
    } else if (query.has('seed') && /^-?[0-9]+$/.test(query.get('seed'))) {
        const seed = query.get('seed');
        form.elements.seed.value = seed;
        title.textContent = `The board of seed ${seed}`;
        answer = await board(seed, LIMIT);
    } else {
        title.textContent = 'The board of every seed';
        answer = await board(null, LIMIT);
    }
    if (!answer.ok) {
        // A static server has no boards: its 404 comes without the hall's sentence.
        const none = answer.status === 404 && answer.error.startsWith('The hall answered');
        said.textContent = none ? 'No hall serves this page, so there is no board to show.' : answer.error;
        return;
    }
    const rows = rowsOf(answer.body);
    const practice = Array.isArray(answer.body.practice) ? answer.body.practice : [];
    said.textContent = rows.length + practice.length ? '' : 'No run is on this board yet.';
    table.hidden = rows.length + practice.length === 0;
    showBoard(table.tBodies[0], rows, replay);
    showBoard(table.tBodies[1], practice, replay, true);
});
