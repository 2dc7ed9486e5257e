// Offline play: once the page has loaded, its service worker (service-worker.js, written by the
// build) is registered, and it keeps the page's files for the next visit. A browser gives service
// workers only to a secure page (HTTPS, or this very machine); elsewhere the page simply plays
// online.

import { afterLoad } from './after-load.js';

function register() {
    navigator.serviceWorker.register('service-worker.js').catch((error) => {
        // With the network off the browser cannot look for a newer worker; a page the worker
        // already serves plays on as it is.
        if (!navigator.serviceWorker.controller) console.warn(`The page cannot be kept for offline play: ${error.message}`);
    });
}

// The worker fetches every file again for its cache, which would slow down the first visit.
if ('serviceWorker' in navigator) afterLoad(register);
