// A board of the hall as a table: one row a run, its place, the hero's name (as text, never as
// markup, marked "not signed" when the run came without its player's signature), level,
// experience, ending, boss, keys, seed, when it was sent, and a button that opens its replay on
// the game's page. A day's practice runs have "practice" for their place.

import { ENDINGS } from '../runs/run-facts.js';
import { thousands } from '../thousands.js';

function cell(text, className) {
    const td = document.createElement('td');
    if (className) td.className = className;
    td.textContent = text;
    return td;
}

// The day and minute a record was sent, in UTC as the hall gives it.
export const sentAt = (iso) => (typeof iso === 'string' ? iso.replace('T', ' ').replace(/:\d\d(\.\d+)?Z$/, ' UTC') : '');

// Fills `body` (a tbody) with the rows; `replay(record, button)` opens one. Rows that are
// `practice` are unranked.
export function showBoard(body, rows, replay, practice = false) {
    body.replaceChildren(
        ...rows.map((record, i) => {
            const tr = document.createElement('tr');
            if (practice) tr.className = 'practice';
            const open = document.createElement('button');
            open.type = 'button';
            open.textContent = 'Replay';
            open.addEventListener('click', () => replay(record, open));
            const last = document.createElement('td');
            last.append(open);
            const name = cell(record.name || '(no name)', 'name');
            if (record.signed === false) {
                const mark = document.createElement('span');
                mark.className = 'unsigned';
                mark.textContent = 'not signed';
                name.append(' ', mark);
            }
            tr.append(
                cell(practice ? 'practice' : String(i + 1), 'place'),
                name,
                cell(String(record.level), 'number'),
                cell(thousands(record.experience), 'number'),
                cell(ENDINGS[record.ending] ?? String(record.ending)),
                cell(record.boss ? 'beaten' : 'no'),
                cell(thousands(record.keys), 'number'),
                cell(String(record.seed), 'number'),
                cell(sentAt(record.submitted)),
                last,
            );
            return tr;
        }),
    );
}
