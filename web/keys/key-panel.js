// "Your key", beside the hall's controls: the player's key's fingerprint, "Export", which saves the
// key as a text file, and "Import", which takes one saved on another device (player-key.js). A
// file that is not a whole key is refused with a sentence, and the key kept stays. Where the
// browser cannot make a key, the panel says once that runs go unsigned, and has no buttons.

import { KEEP_IT, importKeyFile, keyFile, playerKey } from './player-key.js';

// WebCrypto is there only in a secure context (HTTPS, or 127.0.0.1), and Ed25519 only in recent
// browsers.
const UNSIGNED = 'This browser cannot make an Ed25519 key for this page, so the runs it sends go unsigned.';
const UNKEPT = 'This browser keeps nothing for the page, so this key lasts this visit only: export it to keep it.';

function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
}

// `button(text, action)` makes a button of the page's (the keys go back to the terminal after a
// press). Answers {element, key (the key now, or null), state (for tests)}.
export async function keyPanel({ button }) {
    let { key, kept } = await playerKey();

    const panel = element('details', 'your-key');
    panel.append(element('summary', null, 'Your key'));
    const shown = element('span', 'fingerprint');
    const said = element('p', 'key-said');
    said.setAttribute('role', 'status');
    const picker = element('input', 'key-file');
    picker.type = 'file';
    picker.accept = '.txt,text/plain';
    picker.hidden = true;

    function show(sentence) {
        shown.textContent = key ? key.fingerprint : 'none';
        said.textContent = sentence;
        said.hidden = !sentence;
    }

    function exportKey() {
        const a = document.createElement('a');
        a.href = URL.createObjectURL(new Blob([keyFile(key)], { type: 'text/plain' }));
        a.download = `marrowdeep-key-${key.fingerprint.replace(/ /g, '')}.txt`;
        document.body.append(a);
        a.click();
        a.remove();
        setTimeout(() => URL.revokeObjectURL(a.href), 60000);
        show(KEEP_IT);
    }

    picker.addEventListener('change', async () => {
        const file = picker.files[0];
        picker.value = '';
        if (!file) return;
        // A file far too long to be a key is not read whole.
        const text = await file.slice(0, 8192).text();
        const taken = await importKeyFile(text);
        if (taken.error) {
            show(taken.error);
            return;
        }
        ({ key, kept } = taken);
        show(kept ? 'The key of the file is now your key in this browser.' : UNKEPT);
    });

    const about = element('span', 'key-about');
    about.append('Fingerprint: ', shown);
    const actions = key ? [button('Export', exportKey), button('Import', () => picker.click()), picker] : [];
    panel.append(about, ' ', ...actions, said);
    show(key ? (kept ? '' : UNKEPT) : UNSIGNED);

    return {
        element: panel,
        get key() {
            return key;
        },
        get state() {
            return { fingerprint: key ? key.fingerprint : null, said: said.textContent };
        },
    };
}
