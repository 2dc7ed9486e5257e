// What the page shows of its live stream, beside "New game": "Live", how many watch, and the
// "Watch link" button, which copies the address of the watchers' page for this game. Text only.

// The watchers' page for the live game `id`, beside this page.
export function watchAddress(id) {
    return new URL(`watch.html?id=${encodeURIComponent(id)}`, window.location.href).href;
}

// `say(text, extra)` is the page's word to the player; `button(text, action)` makes a control as
// the runs' panel does.
export function liveStatus({ say, button }) {
    const box = document.createElement('span');
    box.className = 'live-status';
    box.setAttribute('role', 'status');
    const word = document.createElement('span');
    word.className = 'live-word';
    let id = null;
    const link = button('Watch link', async () => {
        if (id === null) return;
        const address = watchAddress(id);
        try {
            await navigator.clipboard.writeText(address);
            say('The watch link is copied: whoever opens it watches this game as you play.');
        } catch {
            const field = document.createElement('input');
            field.readOnly = true;
            field.value = address;
            say('The watch link:', field);
            field.select();
        }
    });
    box.append(word, ' ', link);
    box.hidden = true;

    return {
        element: box,
        // The stream's state (live-play.js), or null for none.
        show(st) {
            box.hidden = st === null || st.id === null || !['live', 'ending', 'retrying', 'connecting'].includes(st.state);
            if (box.hidden) return;
            id = st.id;
            if (st.state === 'retrying' || st.state === 'connecting') {
                word.textContent = 'Live (reconnecting)';
            } else {
                const watching = st.watchers === null ? '' : ` \u00b7 ${st.watchers} watching`;
                word.textContent = `Live${watching}`;
            }
        },
    };
}
