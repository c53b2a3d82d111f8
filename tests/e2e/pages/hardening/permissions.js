// Asks for every permission a page can ask a browser for and tells the test what came of each:
// "granted" (with what was given) or "refused: <why>". Nothing here decides which is right.
(() => {
    "use strict";
    const refused = (error) => `refused: ${error && error.name}`;
    const media = navigator.mediaDevices || {};
    const capture = (how, constraints) => media[how]
        ? media[how](constraints).then((stream) => {
            stream.getTracks().forEach((track) => track.stop());
            return "granted";
        }, refused)
        : `refused: no ${how}`;

    const probes = {
        geolocation: () => new Promise((resolve) => navigator.geolocation.getCurrentPosition(
            (position) => resolve(`granted: ${position.coords.latitude}`),
            (error) => resolve(error.code === error.PERMISSION_DENIED ? "refused: PERMISSION_DENIED"
                                                                      : `refused: code ${error.code}`),
            { timeout: 20000 })),
        camera: () => capture("getUserMedia", { video: true }),
        microphone: () => capture("getUserMedia", { audio: true }),
        displayCapture: () => capture("getDisplayMedia", { video: true }),
        notifications: async () => {
            const answer = await Notification.requestPermission();
            return answer === "granted" || Notification.permission === "granted"
                ? "granted" : `refused: ${answer}, now ${Notification.permission}`;
        },
        pointerLock: () => new Promise((resolve) => {
            document.addEventListener("pointerlockchange", () => {
                if (document.pointerLockElement) {
                    document.exitPointerLock();
                    resolve("granted");
                }
            }, { once: true });
            const pending = document.body.requestPointerLock();
            if (pending && pending.then)
                pending.then(() => resolve("granted"), (error) => resolve(refused(error)));
            else
                document.addEventListener("pointerlockerror", () => resolve("refused: pointerlockerror"), { once: true });
        }),
        clipboardRead: () => navigator.clipboard.readText().then((text) => `granted: ${JSON.stringify(text)}`, refused),
        // Before permission to capture is given, devices are listed without their labels.
        deviceLabels: async () => {
            const labels = (await media.enumerateDevices()).map((device) => device.label);
            return labels.some((label) => label) ? `granted: ${labels.join(", ")}` : "refused: no labels";
        },
        storageAccess: () => document.requestStorageAccess().then(() => "granted", refused),
    };

    // Runs one probe and never throws (a missing API is a refusal); a probe that hangs counts as "no answer".
    const probe = async (name) => {
        try {
            return await Promise.race([probes[name](),
                new Promise((resolve) => setTimeout(() => resolve("no answer"), 30000))]);
        } catch (error) {
            return refused(error);
        }
    };

    window.permissionProbes = {
        names: Object.keys(probes),
        // Every probe at once, outside any user gesture.
        all: async () => Object.fromEntries(await Promise.all(
            Object.keys(probes).map(async (name) => [name, await probe(name)]))),
        // The next click anywhere runs the named probe inside that click and reports its outcome.
        onNextClick: (name) => document.addEventListener("click", (event) => {
            event.preventDefault();
            probe(name).then((outcome) => window.report(name, outcome));
        }, { once: true, capture: true }),
    };
})();
