// Asks for every permission a page can ask a browser for, and tells the test what came of each.
// An outcome is "granted" (with what was given) or "refused: <why>"; nothing here decides
// which is right.
(() => {
    "use strict";
    const refused = (error) => `refused: ${error && error.name}`;
    const answerWithin = (promise, ms) => Promise.race([
        Promise.resolve(promise),
        new Promise((resolve) => setTimeout(() => resolve("no answer"), ms)),
    ]);

    const capture = (constraints) => {
        if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia)
            return "refused: no mediaDevices";
        return navigator.mediaDevices.getUserMedia(constraints).then((stream) => {
            stream.getTracks().forEach((track) => track.stop());
            return "granted";
        }, refused);
    };

    const probes = {
        geolocation: () => new Promise((resolve) => {
            if (!navigator.geolocation)
                return resolve("refused: no geolocation");
            navigator.geolocation.getCurrentPosition((position) => resolve(`granted: ${position.coords.latitude}`),
                (error) => resolve(error.code === error.PERMISSION_DENIED ? "refused: PERMISSION_DENIED"
                                                                          : `refused: code ${error.code}`),
                { timeout: 20000 });
        }),
        camera: () => capture({ video: true }),
        microphone: () => capture({ audio: true }),
        displayCapture: () => {
            if (!navigator.mediaDevices || !navigator.mediaDevices.getDisplayMedia)
                return "refused: no getDisplayMedia";
            return navigator.mediaDevices.getDisplayMedia({ video: true }).then((stream) => {
                stream.getTracks().forEach((track) => track.stop());
                return "granted";
            }, refused);
        },
        notifications: async () => {
            if (typeof Notification === "undefined")
                return "refused: no Notification";
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
            try {
                const pending = document.body.requestPointerLock();
                if (pending && pending.then)
                    pending.then(() => resolve("granted"), (error) => resolve(refused(error)));
                else
                    document.addEventListener("pointerlockerror", () => resolve("refused: pointerlockerror"), { once: true });
            } catch (error) {
                resolve(refused(error));
            }
        }),
        clipboardRead: () => {
            if (!navigator.clipboard || !navigator.clipboard.readText)
                return "refused: no clipboard";
            return navigator.clipboard.readText().then((text) => `granted: ${JSON.stringify(text)}`, refused);
        },
        // Before permission to capture is given, devices are listed without their labels.
        deviceLabels: async () => {
            if (!navigator.mediaDevices || !navigator.mediaDevices.enumerateDevices)
                return "refused: no mediaDevices";
            const labels = (await navigator.mediaDevices.enumerateDevices()).map((device) => device.label);
            return labels.some((label) => label) ? `granted: ${labels.join(", ")}` : "refused: no labels";
        },
        storageAccess: async () => {
            if (!document.requestStorageAccess)
                return "refused: no requestStorageAccess";
            return document.requestStorageAccess().then(() => "granted", refused);
        },
    };

    // Runs one probe and never throws; a probe that hangs counts as "no answer".
    const probe = async (name) => {
        try {
            return await answerWithin(probes[name](), 30000);
        } catch (error) {
            return refused(error);
        }
    };

    window.permissionProbes = {
        names: Object.keys(probes),
        probe,
        // Runs every probe at once, outside any user gesture.
        all: async () => {
            const outcomes = {};
            await Promise.all(Object.keys(probes).map(async (name) => { outcomes[name] = await probe(name); }));
            return outcomes;
        },
        // The next click anywhere on the page runs the named probe inside that click and reports
        // its outcome under the probe's name.
        onNextClick: (name) => {
            document.addEventListener("click", (event) => {
                event.preventDefault();
                probe(name).then((outcome) => window.report(name, outcome));
            }, { once: true, capture: true });
        },
    };
})();
