// The list of the games played live on the hall (GET /api/live), newest first: the hero's name
// (as text, never as markup), the seed, the keys and watchers so far, when the game began, and
// a link that watches it. It is asked for again every few seconds while the tab shows, and at
// once when the tab comes back into view.

import { liveGames } from '../hall/api.js';
import { cell, sentAt } from '../hall/run-rows.js';
import { thousands } from '../thousands.js';

export const LIST_EVERY_MS = 5000;

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
        const asked = await liveGames();
        asking = false;
        if (stopped) return;
        const answer =
            asked.ok && !Array.isArray(asked.body.games)
                ? { ok: false, status: asked.status, error: 'The hall answered something it should not.' }
                : asked;
        if (!answer.ok) {
            // A static server has no live games: its 404 comes without the hall's sentence.
            const none = answer.status === 404 && answer.error.startsWith('The hall answered');
            said.textContent = none ? 'No hall serves this page, so there are no live games to watch.' : answer.error;
            table.hidden = true;
            return;
        }
        const { games } = answer.body;
        showLiveGames(table.tBodies[0], games);
        table.hidden = games.length === 0;
        said.textContent = games.length ? '' : 'Nobody plays live on this hall now.';
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
