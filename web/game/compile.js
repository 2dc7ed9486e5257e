// The game's code, fetched and compiled while the rest of the page loads: this module imports
// nothing, so it runs as soon as the page's script does.
export const compiled = WebAssembly.compileStreaming(fetch('marrowdeep.wasm'));
