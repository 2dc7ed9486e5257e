// A board of the hall as a table: one row a run, its place, the hero's name (as text, never as
// markup; a link to the player's page; marked "not signed" when the run came without its
// player's signature), level, experience, ending, boss, keys, seed, when it was sent, and a
// button that opens its replay on the game's page. A day's practice runs have "practice" for
// their place.

import { cell, figures, fillRows, sentAt } from './run-rows.js';

// A record's name as a link to its player's page (player.html), by the name's bytes as the hall
// writes them in an address; the name is text, never markup.
const PLAYER_ADDRESS = /^[A-Za-z0-9._~%-]+$/;
export function playerLink(record) {
    const shown = record.name || '(no name)';
    if (!PLAYER_ADDRESS.test(record.player ?? '')) return document.createTextNode(shown);
    const link = document.createElement('a');
    link.href = `player.html?name=${record.player}`;
    link.textContent = shown;
    return link;
}

// The name's cell: its link, and "not signed" after a name sent without its player's signature.
function nameCell(record) {
    const name = cell('', 'name');
    name.append(playerLink(record));
    if (record.signed === false) {
        const mark = document.createElement('span');
        mark.className = 'unsigned';
        mark.textContent = 'not signed';
        name.append(' ', mark);
    }
    return name;
}

// The last cell: the button that opens the run's replay with `replay(record, button)`.
function replayCell(record, replay) {
    const open = document.createElement('button');
    open.type = 'button';
    open.textContent = 'Replay';
    open.addEventListener('click', () => replay(record, open));
    const last = document.createElement('td');
    last.append(open);
    return last;
}

// Fills `body` (a tbody) with the rows; `replay(record, button)` opens one. Rows that are
// `practice` are unranked.
export function showBoard(body, rows, replay, practice = false) {
    fillRows(
        body,
        rows,
        (record, i) => [
            cell(practice ? 'practice' : String(i + 1), 'place'),
            nameCell(record),
            ...figures(record),
            cell(String(record.seed), 'number'),
            cell(sentAt(record.submitted), 'sent'),
            replayCell(record, replay),
        ],
        practice ? 'practice' : '',
    );
}
