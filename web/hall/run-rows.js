// Runs as table rows, for the hall's tables (a board, a player's page, the live games): the
// cells, each a record's figure as text, a link to a run's page, and the rows filled with their
// cells named by their columns' heads.

import { ENDINGS } from '../runs/run-facts.js';
import { thousands } from '../thousands.js';

export function cell(text, className) {
    const td = document.createElement('td');
    if (className) td.className = className;
    td.textContent = text;
    return td;
}

// A cell holding a link to `href` that says `text`.
export function linkCell(href, text) {
    const td = document.createElement('td');
    const link = document.createElement('a');
    link.href = href;
    link.textContent = text;
    td.append(link);
    return td;
}

// The day and minute a record was sent, in UTC as the hall gives it.
export const sentAt = (iso) => (typeof iso === 'string' ? iso.replace('T', ' ').replace(/:\d\d(\.\d+)?Z$/, ' UTC') : '');

// The link to a run's page.
export const runPage = (record) => `run.html?id=${encodeURIComponent(String(record.id))}`;

// The cells every list of runs has: level, experience, ending, boss and keys.
export function figures(record) {
    return [
        cell(String(record.level), 'number'),
        cell(thousands(record.experience), 'number'),
        cell(ENDINGS[record.ending] ?? String(record.ending)),
        cell(record.boss ? 'beaten' : 'no'),
        cell(thousands(record.keys), 'number'),
    ];
}

// Fills `body` (a tbody) with a row for each item, its cells from `cellsOf(item, index)`, each
// row of the class `rowClass` if any. Each cell is named by its column's head (data-label), which
// a narrow page shows beside it.
export function fillRows(body, items, cellsOf, rowClass = '') {
    const heads = Array.from(body.parentElement.tHead?.rows[0]?.cells ?? [], (th) => th.textContent);
    body.replaceChildren(
        ...items.map((item, index) => {
            const tr = document.createElement('tr');
            if (rowClass) tr.className = rowClass;
            const cells = cellsOf(item, index);
            cells.forEach((td, i) => {
                if (heads[i]) td.dataset.label = heads[i];
            });
            tr.append(...cells);
            return tr;
        }),
    );
}

