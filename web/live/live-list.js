// The list of the games played live on the hall (GET /api/live), newest first: the hero's name
// (as text, never as markup), the seed, the keys and watchers so far, when the game began, and
// a link that watches it. It is asked for again every few seconds while the tab shows, and at
// once when the tab comes back into view.

import { sentAt } from '../hall/run-rows.js';
import { thousands } from '../thousands.js';

export const LIST_EVERY_MS = 5000;

// The hall's list: {ok: true, games} or {ok: false, status, error}. A seed is a whole number of
// 64 bits, more than a JavaScript number holds exactly, so it is read as its digits.
export async function liveGames() {
    let response;
    try {
        response = await fetch('/api/live', { cache: 'no-store', headers: { Accept: 'application/json' } });
    } catch {
        return { ok: false, status: 0, error: 'The hall cannot be reached.' };
    }
    let body = null;
    try {
        body = JSON.parse((await response.text()).replace(/"seed":(-?[0-9]+)/g, '"seed":"$1"'));
    } catch {
        body = null;
    }
    if (!response.ok) {
        const said = body && typeof body.error === 'string' && body.error ? body.error : `The hall answered ${response.status}.`;
        return { ok: false, status: response.status, error: said };
    }
    if (!body || !Array.isArray(body.games)) return { ok: false, status: response.status, error: 'The hall answered something it should not.' };
    return { ok: true, games: body.games };
}

function cell(text, className) {
    const td = document.createElement('td');
    if (className) td.className = className;
    td.textContent = text;
    return td;
}

// The page's link that watches the game `id`.
export const watchLink = (id) => `watch.html?id=${encodeURIComponent(id)}`;

// Fills `body` (a tbody) with a row a game.
export function showLiveGames(body, games) {
    body.replaceChildren(
        ...games.map((game) => {
            const tr = document.createElement('tr');
            const watch = document.createElement('a');
            watch.href = watchLink(String(game.id));
            watch.textContent = 'Watch';
            const last = document.createElement('td');
            last.append(watch);
            const late = game.delayed > 0 ? ` (${Math.round(game.delayed / 60)} minutes late)` : '';
            tr.append(
                cell(typeof game.name === 'string' && game.name ? game.name : '(no name yet)', 'name'),
                cell(game.seed === null || game.seed === undefined ? 'not yet' : String(game.seed), 'number'),
                cell(thousands(Number(game.keys) || 0), 'number'),
                cell(thousands(Number(game.watchers) || 0), 'number'),
                cell(sentAt(game.started) + late),
                last,
            );
            return tr;
        }),
    );
}

// Keeps the list shown in `table` (its tbody filled) and its word in `said` up to date while
// the tab shows. Answers {refresh(), stop()}.
export function keepListed({ table, said }) {
    let timer = null;
    let asking = false;
    let stopped = false;

    async function refresh() {
        if (asking || stopped) return;
        asking = true;
        const answer = await liveGames();
        asking = false;
        if (stopped) return;
        if (!answer.ok) {
            // A static server has no live games: its 404 comes without the hall's sentence.
            const none = answer.status === 404 && answer.error.startsWith('The hall answered');
            said.textContent = none ? 'No hall serves this page, so there are no live games to watch.' : answer.error;
            table.hidden = true;
            return;
        }
        showLiveGames(table.tBodies[0], answer.games);
        table.hidden = answer.games.length === 0;
        said.textContent = answer.games.length ? '' : 'Nobody plays live on this hall now.';
    }

    function schedule() {
        if (timer !== null) clearTimeout(timer);
        timer = null;
        if (stopped || document.hidden) return;
        timer = setTimeout(() => {
            timer = null;
            refresh().then(schedule);
        }, LIST_EVERY_MS);
    }

    const onShow = () => {
        if (document.hidden) return;
        refresh().then(schedule);
    };
    document.addEventListener('visibilitychange', onShow);
    window.addEventListener('focus', onShow);
    refresh().then(schedule);

    return {
        refresh: () => refresh(),
        stop() {
            stopped = true;
            if (timer !== null) clearTimeout(timer);
            document.removeEventListener('visibilitychange', onShow);
            window.removeEventListener('focus', onShow);
        },
    };
}
