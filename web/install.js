// Offline play: once the page has loaded, its service worker (service-worker.js, written by the
// build) is registered, and it keeps the page's files for the next visit. A browser gives service
// workers only to a secure page (HTTPS, or this very machine); elsewhere the page simply plays
// online.

function register() {
    navigator.serviceWorker.register('service-worker.js').catch((error) => {
        // With the network off the browser cannot look for a newer worker; a page the worker
        // already serves plays on as it is.
        if (!navigator.serviceWorker.controller) console.warn(`The page cannot be kept for offline play: ${error.message}`);
    });
}

if ('serviceWorker' in navigator) {
    // Once the page has loaded and the browser is idle, as a rule after the game's first question:
    // the worker fetches every file again for its cache, which would slow down the first visit.
    const later = () => (window.requestIdleCallback ?? setTimeout)(register);
    if (document.readyState === 'complete') later();
    else window.addEventListener('load', later, { once: true });
}
