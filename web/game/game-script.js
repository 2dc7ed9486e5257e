// The game's script, marrowdeep.js, asked for by the page once its own screen and keys are live,
// so that it does not share the network with what the first screen needs. Answers a promise that
// resolves once the script has run (or failed to come: the game then stops on its error).
export function loadGameScript() {
    return new Promise((resolve) => {
        const script = document.createElement('script');
        script.src = 'marrowdeep.js';
        script.addEventListener('load', () => resolve(), { once: true });
        script.addEventListener('error', () => resolve(), { once: true });
        document.head.append(script);
    });
}
