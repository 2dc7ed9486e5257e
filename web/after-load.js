// Work the game's first question need not wait for: `task` runs once the page has loaded and the
// browser is idle, as a rule after that question has shown.
export function afterLoad(task) {
    const later = () => (window.requestIdleCallback ?? setTimeout)(() => task());
    if (document.readyState === 'complete') later();
    else window.addEventListener('load', later, { once: true });
}
