// Brindle's page API, as a planner page sees it. docs/page-api.md says what each part means.
//
// Use it from TypeScript with a triple-slash reference or your tsconfig's "files", or from
// plain JavaScript with `tsc --noEmit --allowJs --checkJs` (Brindle's own demo planner is
// checked that way). Turn on strictNullChecks so that the compiler insists on the test for
// Brindle: in a plain browser `window.BrindleDesktop` is undefined.

/** The sounds Brindle ships. Brindle plays "bell" for any other name. */
type BrindleSoundName = "bell" | "chime" | "digital";

/**
 * "alarm" rings (a looping sound and a panel with "Stop alarm" and "Snooze 5 minutes");
 * Brindle posts every other mode as a reminder notification. Brindle takes any text here; the
 * type names one text for reminders so that a misspelt "Alarm", which Brindle would quietly
 * deliver as a reminder, does not compile.
 */
type BrindleMode = "alarm" | "notify";

/** One reminder or alarm, as the page hands it to Brindle in a "schedule" request. */
interface BrindleAlarm {
    /**
     * The page's name for this alarm. Its first non-empty "/"-separated piece is the task id
     * ("task-7/main" belongs to task "task-7"). Brindle delivers each key at each time once.
     */
    key: string;
    /** When it goes off: milliseconds since 1970-01-01 UTC (Date.getTime()), fraction allowed. */
    at: number;
    /** The notification's body, or the text on the alarm panel. */
    title: string;
    /** The sound an alarm rings with; reminders use the desktop's own notification sound. */
    sound: BrindleSoundName;
    mode: BrindleMode;
    /**
     * Set by Brindle on the snoozes it makes. A page leaves it out: Brindle keeps every record
     * that has one across later schedules, so a page's own would be kept again beside each new
     * copy the page sends.
     */
    baseKey?: never;
}

/** The data of a "schedule" request: the page's whole schedule, replacing the one before. */
interface BrindleSchedule {
    alarms: readonly BrindleAlarm[];
    /**
     * Every task of the page. Brindle keeps its pending snoozes only for tasks listed here, and
     * stops a ringing alarm whose task is not listed. Brindle reads a missing or malformed list
     * as empty.
     */
    taskIds: readonly string[];
}

/** How notifications stand. Linux asks no permission, so Brindle there answers "granted" or "denied". */
type BrindlePermission = "granted" | "denied" | "prompt";

/**
 * The messages of the Error a request's promise rejects with. Requests that Brindle drops
 * (from a frame other than the top one, another origin, an envelope over the size bound) get
 * no reply and reject with "Desktop request timed out" after 10 seconds.
 */
type BrindleErrorMessage = "Invalid alarm schedule" | "Unknown desktop request" | "Desktop request timed out";

/** Nothing is read from the data of this method. */
type BrindleNoData = Record<string, never>;

interface BrindleDesktop {
    /** How notifications stand now. Never rejects except by the time-out. */
    request(method: "permission", data?: BrindleNoData): Promise<BrindlePermission>;
    /** Asks for notifications; on Linux this only looks again, it cannot prompt. */
    request(method: "enable", data?: BrindleNoData): Promise<"granted" | "denied">;
    /** Replaces the schedule; rejects with "Invalid alarm schedule" and changes nothing when any alarm is malformed. */
    request(method: "schedule", data: BrindleSchedule): Promise<true>;
    /** Stops the ringing alarm (and a preview); resolves true whether or not anything rang. */
    request(method: "stop", data?: BrindleNoData): Promise<true>;
    /** Plays a sound once ("bell" when none is given); does nothing while an alarm rings. */
    request(method: "preview", data?: { sound?: BrindleSoundName }): Promise<true>;
}

interface Window {
    /** Defined by Brindle, before the page's first script runs, on its planner's https pages only. */
    readonly BrindleDesktop?: BrindleDesktop;
}
