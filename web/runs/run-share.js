// A run shared: copied as a link (run-link.js) to the page's own address, or saved as a file of
// the bytes the game read.

import { bytesOf } from '../bytes.js';
import { fileName } from './run-facts.js';
import { encodeRun } from './run-link.js';

// The page's address without its query or fragment.
export function pageAddress() {
    return window.location.origin + window.location.pathname;
}

// Copies the run's link, or where the clipboard is refused shows it, selected, with `say`.
export async function copyLink(run, say) {
    const link = `${pageAddress()}#run=${await encodeRun(run)}`;
    try {
        await navigator.clipboard.writeText(link);
        say('The link of the run is copied.');
    } catch {
        const box = document.createElement('input');
        box.readOnly = true;
        box.value = link;
        say('The link of the run:', box);
        box.select();
    }
}

export function saveFile(run) {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([bytesOf(run.keys)], { type: 'application/octet-stream' }));
    a.download = fileName(run);
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}
