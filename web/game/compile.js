// The game's code, fetched and compiled while the rest of the page loads: this module imports
// nothing, so it runs as soon as the page is read, before the page's other modules have all come
// and before the game's own script runs.
export const compiled = WebAssembly.compileStreaming(fetch('marrowdeep.wasm'));
