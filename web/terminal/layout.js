// The space the page leaves the terminal, and a watch on what changes it: the window's size, the
// phone turned, the touch keys shown, hidden or grown, the page's word to the player shown,
// changed or closed, and the page's scroll bar.
//
// The terminal gets the width of its column (the whole page, or beside the touch keys where the
// page's style puts them there) and the height of the window less the page's margins, all else
// its column shows (the page's word to the player and the bar under the terminal), and the touch
// keys when they are under it. So nothing the page shows ever lies over a row of the game.

const px = (value) => parseFloat(value) || 0;

// `main` is the page's main element, `screen` the column of the terminal box `terminal` and what
// shows under it, `panel` the touch keys.
export function layout({ main, screen, terminal, panel }) {
    function space() {
        const page = getComputedStyle(main);
        const gap = px(getComputedStyle(screen).rowGap);
        let height = document.documentElement.clientHeight - px(page.paddingTop) - px(page.paddingBottom);
        for (const part of screen.children) {
            if (part !== terminal && part.getClientRects().length) height -= part.offsetHeight + gap;
        }
        if (!panel.hidden && panel.getBoundingClientRect().top > screen.getBoundingClientRect().top) {
            height -= panel.offsetHeight + px(getComputedStyle(panel.parentElement).rowGap);
        }
        return { width: screen.clientWidth, height };
    }

    // Calls `fit(space)` once per frame at most while the space may have changed.
    function watch(fit) {
        let asked = false;
        const ask = () => {
            if (asked) return;
            asked = true;
            requestAnimationFrame(() => {
                asked = false;
                fit(space());
            });
        };
        window.addEventListener('resize', ask);
        // The panel's height, and the column's width, which a scroll bar coming or going changes.
        const observer = new ResizeObserver(ask);
        observer.observe(panel);
        observer.observe(screen);
        return ask;
    }

    return { space, watch };
}
