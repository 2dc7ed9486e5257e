// The game's code, fetched and compiled while the rest of the page loads: this module imports
// nothing, so it runs as soon as the page is read, before the page's other modules have all come
// and before the game's own script runs.
export const compiled = WebAssembly.compileStreaming(fetch('marrowdeep.wasm'));

// The game's script (marrowdeep.js, deferred in the page after the page's own module) has run:
// the page's module does not wait for it, so the page takes keys while it comes. Once the
// document is read and its deferred scripts have run, it has run or never will.
export const scriptRan = new Promise((resolve) => {
    if (typeof window.createMarrowdeep === 'function' || document.readyState === 'complete') resolve();
    else document.addEventListener('DOMContentLoaded', () => resolve(), { once: true });
});
