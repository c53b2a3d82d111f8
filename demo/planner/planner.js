// The demo planner: tasks with a time, each delivered as a reminder or an alarm.
//
// The page keeps its tasks in localStorage and, inside Brindle, hands the whole schedule to the
// desktop application after every change and on every load. Brindle stores the schedule itself
// and delivers it whether or not this page is open, so the page never has to run a timer of its
// own to make something go off.

"use strict";

(() => {
  const storageKey = "brindle-planner.tasks";
  const sounds = ["bell", "chime", "digital"];
  const soundNames = { bell: "Bell", chime: "Chime", digital: "Digital" };
  // Brindle rings an alarm for at most ten minutes; while a task is inside that window the stop
  // button is worth pointing at.
  const ringWindowMs = 600000;
  const defaultLeadMinutes = 5;

  // Brindle's page script defines this at document start, before any page script runs. In an
  // ordinary browser it is missing and the page works on its own.
  const desktop =
    window.BrindleDesktop && typeof window.BrindleDesktop.request === "function" ? window.BrindleDesktop : null;

  // Each id is one that index.html holds, and each element is used as the control it is there.
  /** @type {(id: string) => any} */
  const element = (id) => document.getElementById(id);
  const form = element("task-form");
  const titleInput = element("task-title");
  const atInput = element("task-at");
  const soundSelect = element("task-sound");
  const list = element("task-list");

  let tasks = loadTasks();
  let scheduleGeneration = 0;
  let statusTimer = 0;
  let errorSource = "";
  // Tasks whose alarm the person already stopped from this page, so that the stop button calms
  // down again; a reload forgets them, which only brings the emphasis back.
  const stoppedTasks = new Set();

  // ---- Stored tasks ------------------------------------------------------------------------

  /** @typedef {{ id: string, title: string, at: number, mode: BrindleMode, sound: BrindleSoundName }} Task */

  /** @returns {Task[]} */
  function loadTasks() {
    let text = null;
    try {
      text = localStorage.getItem(storageKey);
    } catch {
      return [];
    }
    if (!text) return [];
    let stored;
    try {
      stored = JSON.parse(text);
    } catch {
      return [];
    }
    if (!Array.isArray(stored)) return [];
    // One damaged entry (edited by hand, written by an older page) must not cost the others.
    const seen = new Set();
    const valid = stored.map(validTask).filter((task) => task && !seen.has(task.id) && seen.add(task.id));
    return /** @type {Task[]} */ (valid);
  }

  /** @returns {Task | null} */
  function validTask(task) {
    if (!task || typeof task !== "object") return null;
    const { id, title, at, mode, sound } = task;
    if (typeof id !== "string" || id === "" || id.includes("/")) return null;
    if (typeof title !== "string" || typeof at !== "number" || !Number.isFinite(at)) return null;
    return {
      id,
      title,
      at,
      mode: mode === "alarm" ? "alarm" : "notify",
      sound: sounds.includes(sound) ? sound : "bell",
    };
  }

  function storeTasks() {
    try {
      localStorage.setItem(storageKey, JSON.stringify(tasks));
      return true;
    } catch (error) {
      showError(`Your tasks could not be kept in this browser: ${error.message}`, "storage");
      return false;
    }
  }

  function newTaskId() {
    // Keys sent to Brindle are "<task id>/<alarm>", so the id itself must never hold a "/".
    if (window.crypto && typeof crypto.randomUUID === "function") return crypto.randomUUID();
    return `task-${Date.now().toString(36)}-${Math.random().toString(36).slice(2, 10)}`;
  }

  // ---- Talking to Brindle ------------------------------------------------------------------

  // The whole schedule, every time: Brindle replaces what it had with this list, and keeps a
  // pending snooze only while its task is still among the task ids.
  function schedulePayload() {
    return {
      alarms: tasks.map((task) => ({
        key: `${task.id}/main`,
        at: task.at,
        title: task.title,
        sound: task.sound,
        mode: task.mode,
      })),
      taskIds: tasks.map((task) => task.id),
    };
  }

  async function sendSchedule() {
    if (!desktop) return;
    const generation = ++scheduleGeneration;
    setSyncState("Handing the schedule to Brindle…", "busy");
    try {
      await desktop.request("schedule", schedulePayload());
      // Replies can overtake each other; only the answer to the latest schedule says anything
      // about what Brindle holds now.
      if (generation !== scheduleGeneration) return;
      const upcoming = tasks.filter((task) => task.at > Date.now()).length;
      setSyncState(
        upcoming === 0
          ? "Brindle has the schedule. Nothing is due."
          : `Brindle has the schedule: ${upcoming} upcoming ${upcoming === 1 ? "task" : "tasks"}.`,
        "ok"
      );
      if (errorSource === "schedule") hideError();
    } catch (error) {
      if (generation !== scheduleGeneration) return;
      setSyncState("Brindle does not have your latest changes.", "failed");
      // The error text is Brindle's own ("Invalid alarm schedule", a time-out); it is the only
      // account of what went wrong, so it is shown as it is.
      showError(`Brindle did not take the schedule: ${error.message}`, "schedule");
    }
  }

  async function checkPermission(method) {
    if (!desktop) return;
    setPermission("checking");
    try {
      const state = await desktop.request(method);
      setPermission(state);
      // The pill may look just as it did before the click, so the answer is also said aloud.
      if (method === "enable") {
        showStatus(state === "granted" ? "Notifications are allowed." : "Notifications are still off.");
      }
    } catch (error) {
      setPermission("unknown");
      showError(`Brindle could not tell whether notifications are allowed: ${error.message}`, "permission");
    }
  }

  function setPermission(state) {
    const pill = element("permission");
    const texts = {
      checking: "Checking notifications…",
      granted: "Notifications allowed",
      denied: "Notifications are off",
      prompt: "Notifications not yet allowed",
      unknown: "Notifications unknown",
    };
    const known = Object.hasOwn(texts, state) ? state : "unknown";
    pill.dataset.state = known;
    pill.textContent = texts[known];
    // While an answer is awaited the button stays as it was, so that pressing it does not pull
    // the keyboard focus out from under the person who pressed it.
    const enable = element("enable-notifications");
    if (known !== "checking") enable.hidden = known === "granted";
  }

  async function stopAlarm() {
    if (!desktop) return;
    for (const task of tasks) if (isRingWindow(task, Date.now())) stoppedTasks.add(task.id);
    updateLiveState();
    try {
      await desktop.request("stop");
      showStatus("Alarm stopped.");
    } catch (error) {
      showError(`Brindle could not stop the alarm: ${error.message}`, "stop");
    }
  }

  async function previewSound() {
    if (!desktop) return;
    const sound = soundSelect.value;
    try {
      await desktop.request("preview", { sound });
      showStatus(`Playing ${soundNames[sound] || sound}.`);
    } catch (error) {
      showError(`Brindle could not play the sound: ${error.message}`, "preview");
    }
  }

  // ---- Changing tasks ----------------------------------------------------------------------

  function changeTasks(next) {
    tasks = next;
    storeTasks();
    render();
    sendSchedule();
  }

  function addTask(event) {
    event.preventDefault();
    const title = titleInput.value.trim();
    const at = parseLocalDateTime(atInput.value);
    if (title === "") return formError("Give the task a title.", titleInput);
    if (at === null) return formError("Choose a date and time.", atInput);
    if (at <= Date.now()) return formError("Choose a time that is still ahead.", atInput);
    formError("");
    const mode = form.elements.mode.value === "alarm" ? "alarm" : "notify";
    const sound = sounds.includes(soundSelect.value) ? soundSelect.value : "bell";
    changeTasks([...tasks, { id: newTaskId(), title, at, mode, sound }]);
    titleInput.value = "";
    atInput.value = formatLocalDateTime(defaultTime());
    titleInput.focus();
    showStatus(`Added “${title}”.`);
  }

  function removeTask(id) {
    const task = tasks.find((candidate) => candidate.id === id);
    if (!task) return;
    stoppedTasks.delete(id);
    changeTasks(tasks.filter((candidate) => candidate.id !== id));
    showStatus(`Removed “${task.title}”.`);
  }

  function clearPastTasks() {
    const now = Date.now();
    changeTasks(tasks.filter((task) => task.at > now));
    showStatus("Past tasks cleared.");
  }

  function formError(text, field) {
    const box = element("form-error");
    box.textContent = text;
    box.hidden = text === "";
    if (field) {
      field.setAttribute("aria-invalid", "true");
      field.focus();
    } else {
      titleInput.removeAttribute("aria-invalid");
      atInput.removeAttribute("aria-invalid");
    }
  }

  // ---- Time --------------------------------------------------------------------------------

  function defaultTime() {
    const start = new Date(Date.now() + defaultLeadMinutes * 60000);
    start.setSeconds(0, 0);
    return start;
  }

  const pad = (number, width = 2) => String(number).padStart(width, "0");

  function formatLocalDateTime(date) {
    return (
      `${pad(date.getFullYear(), 4)}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}` +
      `T${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}`
    );
  }

  // A datetime-local value names a wall-clock time here; Date's own parser has varied across
  // engines on exactly this form, so the fields are read one by one.
  function parseLocalDateTime(value) {
    const match = /^(\d{4,})-(\d{2})-(\d{2})T(\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{1,3}))?)?$/.exec(value);
    if (!match) return null;
    const [year, month, day, hour, minute, second = "0", fraction = "0"] = match.slice(1);
    const date = new Date(+year, +month - 1, +day, +hour, +minute, +second, +fraction.padEnd(3, "0"));
    return Number.isNaN(date.getTime()) ? null : date.getTime();
  }

  function isSameDay(a, b) {
    return a.getFullYear() === b.getFullYear() && a.getMonth() === b.getMonth() && a.getDate() === b.getDate();
  }

  function describeTime(at) {
    const date = new Date(at);
    const now = new Date();
    const tomorrow = new Date(now.getFullYear(), now.getMonth(), now.getDate() + 1);
    const clock = date.toLocaleTimeString(undefined, {
      hour: "2-digit",
      minute: "2-digit",
      ...(date.getSeconds() !== 0 ? { second: "2-digit" } : {}),
    });
    if (isSameDay(date, now)) return `Today, ${clock}`;
    if (isSameDay(date, tomorrow)) return `Tomorrow, ${clock}`;
    const day = date.toLocaleDateString(undefined, {
      weekday: "short",
      day: "numeric",
      month: "short",
      ...(date.getFullYear() !== now.getFullYear() ? { year: "numeric" } : {}),
    });
    return `${day}, ${clock}`;
  }

  const relativeFormat = new Intl.RelativeTimeFormat(undefined, { numeric: "auto" });

  function describeDistance(at, now) {
    const seconds = Math.round((at - now) / 1000);
    const size = Math.abs(seconds);
    if (size < 60) return relativeFormat.format(seconds, "second");
    if (size < 3600) return relativeFormat.format(Math.round(seconds / 60), "minute");
    // Up to two days "in 26 hours" says more than "tomorrow", which the time already says.
    if (size < 172800) return relativeFormat.format(Math.round(seconds / 3600), "hour");
    return relativeFormat.format(Math.round(seconds / 86400), "day");
  }

  function isRingWindow(task, now) {
    return task.mode === "alarm" && task.at <= now && now < task.at + ringWindowMs && !stoppedTasks.has(task.id);
  }

  // ---- Drawing -----------------------------------------------------------------------------

  // Upcoming tasks soonest first, then past ones most recent first.
  function orderedTasks(now) {
    const upcoming = tasks.filter((task) => task.at > now).sort((a, b) => a.at - b.at);
    const past = tasks.filter((task) => task.at <= now).sort((a, b) => b.at - a.at);
    return [...upcoming, ...past];
  }

  const icons = {
    alarm:
      "M12 4.5a7.5 7.5 0 1 0 0 15 7.5 7.5 0 0 0 0-15Zm0 3v4.6l3 1.8M5 3 2.5 5.5M19 3l2.5 2.5",
    notify:
      "M12 3.5a5.5 5.5 0 0 0-5.5 5.5v3.6L5 15.2h14l-1.5-2.6V9A5.5 5.5 0 0 0 12 3.5Zm-2.3 14.3a2.4 2.4 0 0 0 4.6 0",
    remove: "M6 6l12 12M18 6 6 18",
  };

  function icon(name) {
    const svg = document.createElementNS("http://www.w3.org/2000/svg", "svg");
    svg.setAttribute("viewBox", "0 0 24 24");
    svg.setAttribute("aria-hidden", "true");
    svg.setAttribute("focusable", "false");
    const path = document.createElementNS("http://www.w3.org/2000/svg", "path");
    path.setAttribute("d", icons[name]);
    svg.append(path);
    return svg;
  }

  function make(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function taskCard(task, now) {
    const item = make("li", `task ${task.at <= now ? "past" : "upcoming"}`);
    item.dataset.taskId = task.id;
    item.dataset.mode = task.mode;

    const badge = make("div", `task-icon ${task.mode}`);
    badge.append(icon(task.mode));

    const body = make("div", "task-body");
    const title = make("p", "task-title", task.title);
    const meta = make("p", "task-meta");
    const time = make("time", "task-time", describeTime(task.at));
    time.dateTime = new Date(task.at).toISOString();
    const distance = make("span", "task-distance", describeDistance(task.at, now));
    distance.dataset.at = String(task.at);
    meta.append(time, make("span", "separator", "·"), distance);
    body.append(title, meta);

    const tags = make("div", "task-tags");
    tags.append(make("span", `tag ${task.mode}`, task.mode === "alarm" ? "Alarm" : "Reminder"));
    if (task.mode === "alarm") tags.append(make("span", "tag subtle", soundNames[task.sound]));

    const remove = make("button", "icon-button");
    remove.type = "button";
    remove.id = `remove-${task.id}`;
    remove.dataset.remove = task.id;
    remove.setAttribute("aria-label", `Remove “${task.title}”`);
    remove.title = "Remove";
    remove.append(icon("remove"));

    item.append(badge, body, tags, remove);
    return item;
  }

  function render() {
    const now = Date.now();
    // Rebuilding the list must not throw the keyboard focus out of it.
    const focusedId = document.activeElement && list.contains(document.activeElement) ? document.activeElement.id : "";
    list.replaceChildren(...orderedTasks(now).map((task) => taskCard(task, now)));
    if (focusedId && element(focusedId)) element(focusedId).focus();

    element("empty-state").hidden = tasks.length > 0;
    const upcoming = tasks.filter((task) => task.at > now).length;
    element("task-count").textContent =
      tasks.length === 0 ? "" : upcoming === tasks.length ? `${upcoming} upcoming` : `${upcoming} of ${tasks.length} upcoming`;
    element("clear-past").hidden = upcoming === tasks.length;
    updateLiveState();
  }

  // Called every second: only texts and classes change here, so nothing loses focus.
  function updateLiveState() {
    const now = Date.now();
    let ringing = false;
    let crossed = false;
    for (const item of list.children) {
      const task = tasks.find((candidate) => candidate.id === item.dataset.taskId);
      if (!task) continue;
      const past = task.at <= now;
      if (past !== item.classList.contains("past")) {
        crossed = item.classList.contains("upcoming") || crossed;
        item.classList.toggle("past", past);
        item.classList.toggle("upcoming", !past);
      }
      const due = isRingWindow(task, now);
      item.classList.toggle("due", due);
      ringing ||= due;
      const distance = item.querySelector(".task-distance");
      if (distance) distance.textContent = describeDistance(task.at, now);
    }
    element("stop-alarm").classList.toggle("attention", ringing);
    return crossed;
  }

  function setSyncState(text, state) {
    const line = element("sync-state");
    line.textContent = text;
    line.dataset.state = state;
  }

  function showStatus(text) {
    const toast = element("status");
    toast.textContent = text;
    toast.classList.add("visible");
    clearTimeout(statusTimer);
    statusTimer = setTimeout(() => toast.classList.remove("visible"), 3500);
  }

  function showError(text, source) {
    errorSource = source;
    element("error-text").textContent = text;
    element("error").hidden = false;
  }

  function hideError() {
    errorSource = "";
    element("error").hidden = true;
  }

  // ---- Start -------------------------------------------------------------------------------

  function start() {
    atInput.value = formatLocalDateTime(defaultTime());
    form.addEventListener("submit", addTask);
    titleInput.addEventListener("input", () => titleInput.removeAttribute("aria-invalid"));
    atInput.addEventListener("input", () => atInput.removeAttribute("aria-invalid"));
    list.addEventListener("click", (event) => {
      const button = event.target.closest("[data-remove]");
      if (button) removeTask(button.dataset.remove);
    });
    element("clear-past").addEventListener("click", clearPastTasks);
    element("dismiss-error").addEventListener("click", hideError);

    // Another tab of the same planner changed the tasks: show them, and in Brindle pass them on.
    window.addEventListener("storage", (event) => {
      if (event.key !== storageKey && event.key !== null) return;
      tasks = loadTasks();
      render();
      sendSchedule();
    });

    render();
    setInterval(() => {
      if (updateLiveState()) render();
    }, 1000);

    if (!desktop) {
      element("desktop-missing").hidden = false;
      element("preview-sound").disabled = true;
      element("preview-sound").title = "Sounds play in the Brindle desktop application";
      setSyncState("Tasks are kept in this browser only.", "offline");
      return;
    }

    element("desktop-bar").hidden = false;
    element("enable-notifications").addEventListener("click", () => checkPermission("enable"));
    element("stop-alarm").addEventListener("click", stopAlarm);
    element("preview-sound").addEventListener("click", previewSound);
    checkPermission("permission");
    // Brindle may have started without this page's latest tasks (another browser profile, a
    // store file from an older run), so every load hands them over again.
    sendSchedule();
  }

  start();
})();
