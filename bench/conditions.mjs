// The two ways the web page's benchmark loads a page: as the machine is, and as a phone on a
// mobile network. Part of bench/web.mjs.

// A phone on a slow mobile network: 150 ms for a round trip, 1.6 Mbit/s down and 750 kbit/s up,
// and a processor a quarter as fast.
export const PHONE = {
    name: 'phone',
    about: 'as a phone: 150 ms round trip, 1.6 Mbit/s down, 750 kbit/s up, the CPU slowed 4 x',
    network: { latency: 150, download: 1.6e6 / 8, upload: 750e3 / 8 },
    cpu: 4,
};

// The machine as it is, served from 127.0.0.1.
export const AS_IS = { name: 'as is', about: 'as the machine is', network: null, cpu: 1 };

export const CONDITIONS = [AS_IS, PHONE];

// Puts `page` (a new tab, before it goes anywhere) under `condition`. The network's conditions
// hold for the tab's own requests, not for its service worker's; the CPU's for the tab's main
// thread.
export async function emulate(page, condition) {
    if (!condition.network && condition.cpu === 1) return;
    await page.emulateNetworkConditions(condition.network);
    await page.emulateCPUThrottling(condition.cpu === 1 ? null : condition.cpu);
}
