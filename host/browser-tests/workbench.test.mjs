// The workbench page in headless Chromium, used as a person would: a network built by clicks,
// vehicles dragged onto positions, a plan played, a road blocked, a re-plan, a scenario loaded,
// a controller killed and restarted. Each test opens its own page on a session of its own,
// prepared through the HTTP interface where it needs a network or a plan to begin with, so the
// tests hold in any order. Screenshots go to $ARTEFACTS (default: ./artefacts).
import { after, afterEach, before, beforeEach, test } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = dirname(fileURLToPath(import.meta.url));
const hostDir = resolve(here, "..");
const artefacts = process.env.ARTEFACTS || join(here, "artefacts");
const python = process.env.PYTHON || "python3";
const binary = process.env.MOVA_BINARY || resolve(hostDir, "..", "build", "mova");
const ARGS = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
  "--disable-component-update", "--disable-sync"];

let server, url, context, page, profile;
let problems = [];
// The network the first test builds by hand, for the tests that begin with it.
const NETWORK = [["two-lanes", 0, 1], ["two-lanes", 1, 2], ["two-lanes", 4, 5], ["two-lanes", 5, 6],
  ["two-lanes", 0, 4], ["one-lane", 1, 5], ["one-lane", 2, 6], ["one-way", 6, 7], ["one-way", 7, 3],
  ["one-way", 3, 2]];
const ROAD_STEPS = NETWORK.map(([kind, from, to]) => ["road", { kind, from, to }]);
const PLACED = ["vehicles", { starts: [0, 6, 2], goals: [6, 0, 4] }];

function startServer(options = []) {
  return new Promise((resolveStart, reject) => {
    const child = spawn(python, ["-m", "mova_host", "serve", "--port", "0", "--binary", binary, ...options],
      { cwd: hostDir, stdio: ["ignore", "pipe", "pipe"], env: { ...process.env, PYTHONDONTWRITEBYTECODE: "1" } });
    let out = "";
    const timer = setTimeout(() => reject(new Error(`the server did not start: ${out}`)), 20000);
    child.stdout.on("data", (data) => {
      out += data;
      const found = out.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (found) {
        clearTimeout(timer);
        resolveStart({ child, url: found[0] });
      }
    });
    child.stderr.on("data", (data) => { out += data; });
    child.on("exit", (code) => reject(new Error(`the server exited (${code}): ${out}`)));
  });
}

const shot = (name) => page.screenshot({ path: join(artefacts, `${name}.png`), fullPage: true });
const message = () => page.locator("#message").textContent();
const position = (p) => page.locator(`#canvas g.position[data-pos="${p}"]`);

// Waits until the page's message matches; a timeout says what the message read instead. The
// message is looked at every 50 ms rather than at every frame, which a busy machine may hold back.
async function waitMessage(pattern) {
  try {
    await page.waitForFunction((source) => new RegExp(source).test(document.getElementById("message").textContent),
      pattern.source, { timeout: 30000, polling: 50 });
  } catch (error) {
    throw new Error(`the message never matched ${pattern}; it reads "${await message().catch(() => "?")}" (${error.message})`);
  }
  return message();
}

// Waits until the session's state on the server passes `check`.
async function waitState(check, what) {
  for (let attempt = 0; attempt < 300; attempt += 1) {
    if (check(await state())) return;
    await page.waitForTimeout(100);
  }
  assert.fail(`the session's state never showed ${what}; the page says "${await message()}"`);
}

// The middle of an element on the screen. The picture is drawn anew after every answer, so an
// element found a moment ago may have been replaced: it is looked up again until it holds still.
async function centre(locator) {
  let box = null;
  for (let attempt = 0; attempt < 50 && !box; attempt += 1) {
    await locator.waitFor({ state: "attached", timeout: 10000 });
    await page.waitForFunction(() => !document.body.classList.contains("busy"));
    box = await locator.boundingBox({ timeout: 2000 }).catch(() => null);
    if (!box) await page.waitForTimeout(100);
  }
  assert.ok(box, "the element is drawn");
  return [box.x + box.width / 2, box.y + box.height / 2];
}

async function dragTo(locator, [x, y]) {
  const [fromX, fromY] = await centre(locator);
  await page.mouse.move(fromX, fromY);
  await page.mouse.down();
  await page.mouse.move(x, y, { steps: 10 });
  await page.mouse.up();
}

async function joinByClicks(kind, a, b) {
  await page.check(`input[name=kind][value=${kind}]`);
  await position(a).click();
  await position(b).click();
  await waitMessage(new RegExp(`^(Added|.*already joined|.*at most)`));
}

async function state() {
  return page.evaluate(async () => {
    const id = sessionStorage.getItem("mova-session");
    return (await fetch(`/api/sessions/${id}?since=999999999`)).json();
  });
}

async function call(method, path, body) {
  const response = await fetch(new URL(path, url), { method, body: body === undefined ? undefined : JSON.stringify(body),
    headers: body === undefined ? {} : { "Content-Type": "application/json" } });
  assert.ok(response.ok, `${method} ${path}: ${response.status} ${await response.clone().text()}`);
  return (response.headers.get("Content-Type") || "").startsWith("application/json") ? response.json() : response.text();
}

// Opens the page on a session prepared through the HTTP interface (actions and their bodies),
// as a person finds a session they had open; without steps, on a new session.
async function open(steps = []) {
  if (steps.length) {
    const created = await call("POST", "/api/sessions", {});
    for (const [action, body] of steps) await call("POST", `/api/sessions/${created.id}/${action}`, body ?? {});
    await page.addInitScript((id) => sessionStorage.setItem("mova-session", id), created.id);
  }
  await page.goto(url);
  await page.waitForSelector("body[data-ready=yes]");
}

async function stepLabel() {
  return page.locator("#step-label").textContent();
}

before(async () => {
  mkdirSync(artefacts, { recursive: true });
  ({ child: server, url } = await startServer());
  profile = mkdtempSync(join(tmpdir(), "mova-chromium-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ARGS,
    viewport: { width: 1400, height: 900 },
    acceptDownloads: true,
  });
});

beforeEach(async () => {
  problems = [];
  page = await context.newPage();
  page.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  page.on("console", (entry) => {
    if (entry.type() === "error" && !/status of (400|409|503)/.test(entry.text())) problems.push(`console: ${entry.text()}`);
  });
});

// Every test leaves no error in its page, and its session ends with it.
afterEach(async () => {
  const id = await page.evaluate(() => sessionStorage.getItem("mova-session")).catch(() => null);
  await page.close();
  if (id) await fetch(new URL(`/api/sessions/${id}`, url), { method: "DELETE" });
  assert.deepEqual(problems, []);
});

after(async () => {
  await context?.close();
  if (profile) rmSync(profile, { recursive: true, force: true });
  server?.kill();
});

test("builds a network by clicks and drags, with every refusal in words", async () => {
  await open();
  assert.match(await page.locator("#controller").textContent(), /Controller running \(process \d+\)/);
  const roads = NETWORK;
  for (const [kind, a, b] of roads) await joinByClicks(kind, a, b);
  assert.equal(await page.locator("#canvas g.road").count(), roads.length);
  assert.equal(await page.locator("#road-count").textContent(), `${roads.length} of 15 roads`);
  assert.equal(await page.locator('#canvas g.road[data-from="6"][data-to="7"]').getAttribute("data-kind"), "one-way");

  // Refusals: the same road again, and a road from a position to itself (a second click on
  // the first position only clears the choice).
  await joinByClicks("two-lanes", 1, 0);
  assert.match(await message(), /already joined by a two-lane road/);
  assert.equal(await page.locator("#message").getAttribute("class"), "message error");
  await position(8).click();
  await position(8).click();
  assert.match(await message(), /No position chosen/);

  // A position dragged elsewhere stays there.
  const before = await position(3).locator("circle").getAttribute("cx");
  const [x, y] = await centre(position(3));
  await dragTo(position(3), [x - 60, y + 60]);
  await page.waitForFunction((old) => document.querySelector('#canvas g.position[data-pos="3"] circle')
    .getAttribute("cx") !== old && !document.body.classList.contains("busy"), before);
  const moved = (await state()).positions[3];
  const box = await page.locator("#canvas").boundingBox();
  const scale = Math.min(box.width / 900, box.height / 700);  // the picture keeps its proportions
  assert.ok(Math.abs(moved.x - (Number(before) - 60 / scale)) < 3, `position 3 moved to ${moved.x}`);

  // A name shows beside its position.
  await page.selectOption("#name-position", "0");
  await page.fill("#name-text", "dock A");
  await page.click("#name-form button");
  await waitMessage(/Position 0 is called “dock A”/);
  assert.equal(await position(0).locator("text.name").textContent(), "dock A");

  await page.click("#build");
  await waitMessage(/^Built the network of 10 roads/);
  assert.equal(await page.locator("#built").textContent(), "The controller holds this network.");
  await page.click("#distances");
  await waitMessage(/distance table/);
  const cell = (i, j) => page.locator(`table.distances tbody tr:nth-child(${i + 1}) td:nth-child(${j + 2})`);
  assert.equal(await cell(0, 6).textContent(), "3");
  assert.equal(await cell(7, 6).textContent(), "3");
  assert.equal(await cell(0, 8).textContent(), "–");
  // The table's 144 queries are one folded entry of the transcript, not 144 lines in sight.
  const group = page.locator("#transcript > details").last();
  assert.match(await group.locator("summary").first().textContent(), /^distance table/);
  const folded = group.locator('li.folded[data-command="VEHICLE_GET_DIS_TO_POS"]');
  assert.equal(await folded.locator("summary").textContent(), "VEHICLE_GET_DIS_TO_POS ×144");
  assert.equal(await folded.locator("details").getAttribute("open"), null);
  const inSight = await group.locator("li:visible").count();
  assert.ok(inSight < 10, `${inSight} entries of the distance table in sight`);
  await shot("1-network");
});

test("places vehicles by dragging, plans and plays the plan", async () => {
  await open(ROAD_STEPS);
  await page.click("#mode-mission");
  const place = async (badgeName, p) => {
    await dragTo(page.locator(`#canvas [data-badge="${badgeName}"]`), await centre(position(p)));
    await waitMessage(new RegExp(`is on position ${p}`));
  };
  for (const [name, p] of [["start-1", 0], ["goal-1", 6], ["start-2", 6], ["goal-2", 0], ["start-3", 2], ["goal-3", 4]]) {
    await place(name, p);
  }
  // Dropping a start onto a position another start holds is refused in words.
  await dragTo(page.locator('#canvas [data-badge="start-3"]'), await centre(position(0)));
  await waitMessage(/cannot both have position 0/);
  const s = await state();
  assert.deepEqual([s.starts, s.goals], [[0, 6, 2], [6, 0, 4]]);

  await page.click("#plan");
  const answer = await waitMessage(/answered (TRUE|FALSE)/);
  assert.match(answer, /MOVA_START_MISSION answered TRUE: a plan of \d+ steps/);
  const steps = Number(answer.match(/plan of (\d+) steps/)[1]);
  assert.ok(steps >= 2);
  for (const v of [1, 2, 3]) {
    assert.equal(await page.locator(`#canvas path.path[data-vehicle="${v}"]`).count(), 1);
    assert.ok(await page.locator(`#canvas path.direction[data-vehicle="${v}"]`).count() >= 1, `vehicle ${v}'s direction`);
  }
  assert.equal(await page.locator("table.steps tbody tr").count(), steps + 1);
  assert.match(await page.locator("#why").textContent(), /The controller answered TRUE/);
  assert.match(await page.locator("#transcript").textContent(), /MOVA_START_MISSION→TRUE|MOVA_START_MISSION\s*→\s*TRUE/);
  assert.match(await page.locator("#transcript").textContent(), /Solution computed TRUE/);
  await shot("2-plan");

  // Playback: play to the end, step back, slider to the start. Play and pause are drawn as
  // shapes, not as characters a font may lack.
  assert.equal((await page.locator("#play").textContent()).trim(), "Play");
  assert.equal(await page.locator("#play svg.icon.play path").count(), 1);
  assert.equal(await stepLabel(), `step 0 of ${steps}`);
  await page.click("#play");
  await page.waitForFunction((n) => document.getElementById("step-label").textContent === `step ${n} of ${n}`,
    steps, { timeout: 20000 });
  const at = await page.locator("#canvas g.vehicle").evaluateAll((nodes) => nodes.map((n) => Number(n.dataset.pos)));
  assert.deepEqual(at, [6, 0, 4]);
  assert.equal((await page.locator("#play").textContent()).trim(), "Play");
  await page.click("#step-back");
  assert.equal(await stepLabel(), `step ${steps - 1} of ${steps}`);
  assert.equal(await page.locator("table.steps tr.current").getAttribute("data-step"), String(steps - 1));
  await shot("3-playback");
  await page.locator("#slider").fill("0");
  assert.equal(await stepLabel(), `step 0 of ${steps}`);
});

test("moves on the real controller, blocks a road and plans again around it", async () => {
  await open([...ROAD_STEPS, PLACED, ["plan"]]);
  await page.click("#mode-mission");
  const first = (await state()).plan;
  assert.ok(first.answer, "the controller found a plan");
  await page.click("#move");
  await waitMessage(/^Moved: /);
  let s = await state();
  assert.deepEqual(s.plan.history, [first.plan[0]]);
  assert.deepEqual(s.plan.plan[0], first.plan[1]);
  assert.equal(await page.locator("#canvas path.travelled").count(), 3);
  assert.match(await page.locator("#transcript").textContent(), /VEHICLE_MOVED_FORWARD/);

  // Block a road the rest of the plan uses.
  const used = new Set();
  s.plan.plan.slice(1).forEach((after, k) => after.forEach((p, v) => {
    const q = s.plan.plan[k][v];
    if (p !== q) used.add(`${Math.min(p, q)}-${Math.max(p, q)}`);
  }));
  const road = s.roads.find((r) => used.has(`${Math.min(r.from, r.to)}-${Math.max(r.from, r.to)}`) && r.kind !== "one-way");
  assert.ok(road, "the plan uses a two-way road");
  // (A straight road's box has no height, so the mouse clicks its middle as a person would.)
  await page.mouse.click(...(await centre(page.locator(`#canvas path.road-target[data-road="${road.index}"]`))));
  await waitMessage(/is blocked/);
  assert.equal(await page.locator("#canvas g.obstacle").count(), 1);
  assert.match(await page.locator("#obstacle-list").textContent(), new RegExp(`${road.from}–${road.to}`));
  // The Why panel and the hint no longer speak of the plan made before the road was blocked.
  assert.doesNotMatch(await page.locator("#why").textContent(), /answered TRUE/);
  assert.match(await page.locator("#why").textContent(), /The obstacles changed after this plan/);
  assert.match(await page.locator("#mode-hint").textContent(), /Confirm obstacles/);
  assert.equal(await page.locator("tr.made td").first().textContent(), "made 1");
  await page.click("#mode-network");
  assert.match(await page.locator("#mode-hint").textContent(), /Mission/);
  assert.equal(await message(), "");
  await page.click("#mode-mission");
  await page.click("#confirm");
  await waitMessage(/OBSTACLES_CONFIRM answered/);
  assert.match(await page.locator("#why").textContent(), /The controller answered TRUE/);
  s = await state();
  assert.ok(s.plan.answer, "a plan around the obstacle exists");
  const key = `${Math.min(road.from, road.to)}-${Math.max(road.from, road.to)}`;
  s.plan.plan.slice(1).forEach((after, k) => after.forEach((p, v) => {
    const q = s.plan.plan[k][v];
    assert.notEqual(`${Math.min(p, q)}-${Math.max(p, q)}`, key, "the new plan avoids the blocked road");
  }));
  assert.equal(await page.locator("#canvas path.travelled").count(), 3, "the part driven stays visible");
  assert.equal(s.plan.history.length, 1);
  assert.equal(await page.locator("tr.made td").first().textContent(), "made 1");
  await shot("4-replan");
});

test("saves the command stream, the picture with its legend and a named scenario that passes the check", async () => {
  await open([...ROAD_STEPS, PLACED, ["plan"], ["move"], ["obstacle", { from: 0, to: 4 }], ["confirm"]]);
  await page.click("#mode-mission");
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#export-commands")]);
  const commands = readFileSync(await download.path(), "utf-8");
  for (const line of ["ENVIRONMENT_BUILD", "MOVA_START_MISSION", "VEHICLE_MOVED_FORWARD", "OBSTACLES_CONFIRM"]) {
    assert.ok(commands.split("\n").includes(line), line);
  }
  const [picture] = await Promise.all([page.waitForEvent("download"), page.click("#save-picture")]);
  const svgText = readFileSync(await picture.path(), "utf-8");
  writeFileSync(join(artefacts, "picture.svg"), svgText);
  assert.match(svgText, /^<\?xml/);
  assert.match(svgText, /class="obstacle"/);
  assert.match(svgText, /<g id="legend"/);
  assert.match(svgText, /class="direction"/);
  assert.doesNotMatch(svgText, /road-target|id="tray"/);

  // Save scenario asks for a name; the file lists the positions in use and passes the check.
  await page.click("#save-scenario");
  await page.fill("#scenario-name", "two loops");
  const [saved] = await Promise.all([page.waitForEvent("download"), page.click("#save-form button[type=submit]")]);
  const file = await saved.path();
  const scenario = JSON.parse(readFileSync(file, "utf-8"));
  assert.equal(scenario.name, "two loops");
  assert.deepEqual(scenario.positions.map((p) => p.position), [0, 1, 2, 3, 4, 5, 6, 7]);
  const checked = spawnSync(python, ["-m", "mova_host", "check", file], { cwd: hostDir, encoding: "utf-8" });
  assert.equal(checked.status, 0, checked.stdout + checked.stderr);
  await waitMessage(/“two loops” is saved/);
});

test("loads a scenario, says why there is no plan, and refuses a sixteenth road", async () => {
  await open();
  const impossible = {
    format: "mova-scenario", version: 1, name: "one way only",
    roads: [{ kind: "one-way", from: 0, to: 1 }, { kind: "two-lanes", from: 1, to: 2 }],
    vehicles: [{ vehicle: 1, start: 1, goal: 0 }, { vehicle: 2, start: 2, goal: 1 }, { vehicle: 3, start: 5, goal: 5 }],
  };
  await page.setInputFiles("#load-file", { name: "one-way.json", mimeType: "application/json",
    buffer: Buffer.from(JSON.stringify(impossible)) });
  await waitMessage(/^Loaded “one way only”/);
  assert.equal(await page.locator("#canvas g.road").count(), 2);
  assert.equal(await page.locator("#mode-mission").getAttribute("aria-selected"), "true");
  await page.click("#plan");
  await waitMessage(/MOVA_START_MISSION answered FALSE/);
  const why = await page.locator("#why").textContent();
  assert.match(why, /The controller answered FALSE/);
  assert.equal(await page.locator("#playback").isHidden(), true);
  await shot("5-why-false");

  const broken = { ...impossible, roads: [{ kind: "two-lane", from: 0, to: 1 }] };
  await page.setInputFiles("#load-file", { name: "broken.json", mimeType: "application/json",
    buffer: Buffer.from(JSON.stringify(broken)) });
  await waitMessage(/cannot be used: .*roads\[0\]\.kind/);
  assert.equal(await page.locator("#canvas g.road").count(), 2, "a bad file changes nothing");

  // With no time to plan the controller misses a plan that exists; the Why panel shows one.
  const hurried = { ...impossible, name: "no time", roads: [{ kind: "two-lanes", from: 0, to: 1 },
    { kind: "two-lanes", from: 1, to: 2 }], vehicles: [{ vehicle: 1, start: 0, goal: 2 },
    { vehicle: 2, start: 5, goal: 5 }, { vehicle: 3, start: 9, goal: 9 }], settings: { timeout_ms: 0 } };
  await page.setInputFiles("#load-file", { name: "hurried.json", mimeType: "application/json",
    buffer: Buffer.from(JSON.stringify(hurried)) });
  await waitMessage(/^Loaded “no time”/);
  await page.click("#plan");
  await waitMessage(/MOVA_START_MISSION answered FALSE/);
  assert.match(await page.locator("#why").textContent(), /The controller answered FALSE/);
  await page.click("#show-optimal");
  assert.match(await page.locator("#caption").textContent(), /^Fewest steps .*: 2 steps/);
  assert.equal(await stepLabel(), "step 0 of 2");
  await page.click("#step-forward");
  await page.click("#step-forward");
  const at = await page.locator("#canvas g.vehicle").evaluateAll((nodes) => nodes.map((n) => Number(n.dataset.pos)));
  assert.deepEqual(at, [2, 5, 9]);
  await shot("6-why-missed");
  await page.click("#show-optimal");
  assert.equal(await page.locator("#caption").textContent(), "No plan found");

  const full = { ...impossible, name: "full", roads: [], settings: { timeout_ms: 1000 } };
  for (const [a, b] of [[0, 1], [1, 2], [2, 3], [4, 5], [5, 6], [6, 7], [8, 9], [9, 10], [10, 11], [0, 4], [1, 5],
    [2, 6], [3, 7], [4, 8], [5, 9]]) full.roads.push({ kind: "two-lanes", from: a, to: b });
  await page.setInputFiles("#load-file", { name: "full.json", mimeType: "application/json",
    buffer: Buffer.from(JSON.stringify(full)) });
  await waitMessage(/^Loaded “full”/);
  await page.click("#mode-network");
  await joinByClicks("one-way", 6, 10);
  assert.match(await message(), /at most 15 roads; remove one before adding another/);
  assert.match(await page.locator("#road-count").textContent(), /15 of 15 roads — the limit/);
  await shot("7-road-limit");
});

test("reports a controller that died and restarts it", async () => {
  await open([...ROAD_STEPS, PLACED]);
  const pid = Number((await page.locator("#controller").textContent()).match(/process (\d+)/)[1]);
  process.kill(pid, "SIGKILL");
  await page.click("#mode-mission");
  await page.click("#plan");
  await waitMessage(/exited/);
  assert.match(await page.locator("#controller").textContent(), /Controller stopped: the controller exited/);
  assert.equal(await page.locator("#restart").isVisible(), true);
  await shot("8-controller-died");
  await page.click("#restart");
  await waitMessage(/A new controller is running/);
  const again = Number((await page.locator("#controller").textContent()).match(/process (\d+)/)[1]);
  assert.notEqual(again, pid);
  assert.equal(await page.locator("#restart").isVisible(), false);
  await page.click("#plan");
  await waitMessage(/MOVA_START_MISSION answered/);
});

// A page of its own on `server` (another than the shared one), its errors counted with the rest.
async function pageOn(serverUrl) {
  const other = await context.newPage();
  other.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  await other.goto(serverUrl);
  await other.waitForSelector("body[data-ready=yes]");
  return other;
}

test("ends its session as the page goes away, keeps it over a reload; a full server is a sentence and Retry, no script error", async () => {
  const { child: small, url: smallUrl } = await startServer(["--max-sessions", "1"]);
  try {
    const first = await pageOn(smallUrl);
    const id = await first.evaluate(() => sessionStorage.getItem("mova-session"));
    await first.click("#mode-mission");
    await first.reload();
    await first.waitForSelector("body[data-ready=yes]");
    assert.equal(await first.evaluate(() => sessionStorage.getItem("mova-session")), id, "a reload keeps the session");
    assert.match(await first.locator("#message").textContent(), /Welcome back/);

    // A second page finds the server full: a sentence and Retry, and every button says so.
    const second = await pageOn(smallUrl);
    assert.match(await second.locator("#message").textContent(), /runs 1 session, its limit.*Retry when/);
    assert.equal(await second.locator("#retry").isVisible(), true);
    assert.equal(await second.locator("#controller").textContent(), "No controller");
    for (const button of ["#build", "#save-scenario", "#export-commands"]) assert.ok(await second.locator(button).isDisabled());
    await second.click("#mode-mission");
    assert.ok(await second.locator("#plan").isDisabled());
    await second.keyboard.press("Control+z");
    await second.locator("#canvas").click();
    await second.screenshot({ path: join(artefacts, "9-server-full.png") });

    // The first page goes away; Retry on the second finds room.
    await first.close({ runBeforeUnload: true });
    await second.click("#retry");
    await second.waitForFunction(() => /Controller running/.test(document.getElementById("controller").textContent));
    assert.equal(await second.locator("#retry").isHidden(), true);
    assert.notEqual(await second.evaluate(() => sessionStorage.getItem("mova-session")), id);
    // A server that went away is a sentence too.
    small.kill();
    await second.click("#plan");
    await second.waitForFunction(() => /does not answer/.test(document.getElementById("message").textContent));
    await second.close();
  } finally {
    small.kill();
  }
});

test("undoes and redoes edits of the network and the vehicles, by buttons and keys", async () => {
  await open(ROAD_STEPS);
  const roads = async () => (await state()).roads.map((r) => `${r.kind} ${r.from}-${r.to}`).sort();
  const initial = await roads();
  assert.equal(await page.locator("#undo").isDisabled(), true);
  await joinByClicks("one-lane", 8, 9);
  await page.locator('#road-list li[data-road="0"] button').click();
  await waitMessage(/^Removed/);
  const [x, y] = await centre(position(11));
  await dragTo(position(11), [x - 40, y - 30]);
  await page.waitForFunction(() => document.getElementById("undo").title.startsWith("Undo moving position 11"));
  const moved = (await state()).positions[11];

  await page.keyboard.press("Control+z");
  await waitMessage(/^Undone: moving position 11/);
  assert.deepEqual([(await state()).positions[11].x, (await state()).positions[11].y], [780, 490]);
  await page.click("#undo");
  await waitMessage(/^Undone: removing the road 0–1/);
  await page.keyboard.press("Control+z");
  await waitMessage(/^Undone: adding the road 8–9/);
  assert.deepEqual(await roads(), initial);
  assert.equal(await page.locator("#undo").isDisabled(), true);

  await page.keyboard.press("Control+y");
  await waitMessage(/^Redone: adding the road 8–9/);
  await page.keyboard.press("Control+Shift+z");
  await waitMessage(/^Redone: removing the road 0–1/);
  await page.click("#redo");
  await waitMessage(/^Redone: moving position 11/);
  assert.deepEqual((await state()).positions[11], moved);
  assert.deepEqual(await roads(), [...initial.filter((r) => r !== "two-lanes 0-1"), "one-lane 8-9"].sort());

  // A start placed from its list is taken back the same way.
  await page.click("#mode-mission");
  await page.selectOption('select[aria-label="start of vehicle 2"]', "5");
  await waitState((s) => s.starts[1] === 5, "vehicle 2's start on 5");
  await page.waitForFunction(() => !document.body.classList.contains("busy"));
  await page.locator("#canvas").click({ position: { x: 5, y: 5 } });
  await page.keyboard.press("Control+z");
  await waitMessage(/^Undone: placing the start of vehicle 2/);
  assert.equal((await state()).starts[1], null);
});

test("plays, pauses and steps by keys", async () => {
  await open([...ROAD_STEPS, PLACED, ["plan"]]);
  await page.click("#mode-mission");
  const n = (await state()).plan.steps;
  await page.locator("#canvas").click({ position: { x: 5, y: 5 } });
  await page.keyboard.press("ArrowRight");
  assert.equal(await stepLabel(), `step 1 of ${n}`);
  await page.keyboard.press("End");
  assert.equal(await stepLabel(), `step ${n} of ${n}`);
  await page.keyboard.press("ArrowLeft");
  assert.equal(await stepLabel(), `step ${n - 1} of ${n}`);
  await page.keyboard.press("Home");
  assert.equal(await stepLabel(), `step 0 of ${n}`);
  await page.keyboard.press("k");
  assert.equal(await page.locator("#play").getAttribute("aria-label"), "pause");
  assert.equal(await page.locator("#play svg.icon.pause path").count(), 1);
  const box = await page.locator("#play svg.icon").boundingBox();
  assert.ok(box.width >= 10 && box.height >= 10, "the pause mark is drawn");
  await page.keyboard.press("Space");
  assert.equal(await page.locator("#play").getAttribute("aria-label"), "play");
  await page.keyboard.press("Space");
  await page.waitForFunction((last) => document.getElementById("step-label").textContent === `step ${last} of ${last}`,
    n, { timeout: 20000 });
  assert.equal(await page.locator("#play").getAttribute("aria-label"), "play");
});

// Whether an element lies wholly on the screen of the page's present size.
async function onScreen(selector) {
  const { width, height } = page.viewportSize();
  const box = await page.locator(selector).boundingBox();
  return box !== null && box.x >= 0 && box.y >= 0 && box.x + box.width <= width && box.y + box.height <= height;
}

test("shows the picture, its legend and the Plan button together at 1400x900 and 1024x768", async () => {
  await open([...ROAD_STEPS, PLACED, ["plan"], ["move"], ["obstacle", { from: 1, to: 2 }], ["confirm"]]);
  await page.click("#mode-mission");
  await page.click("#step-forward");
  for (const [width, height] of [[1400, 900], [1024, 768]]) {
    await page.setViewportSize({ width, height });
    const legend = await page.locator("#legend").textContent();
    for (const words of ["one-way", "two-way, one lane", "two-way, two lanes", "blocked road", "vehicle 3"]) {
      assert.ok(legend.includes(words), `the legend names ${words}`);
    }
    for (const what of ["#canvas", "#legend", "#plan", "#playback"]) {
      assert.ok(await onScreen(what), `${what} is on the screen at ${width}x${height}`);
    }
    assert.equal(await page.locator("header").evaluate((node) => node.getBoundingClientRect().height < 50), true,
      `the header is one line at ${width}x${height}`);
    await page.screenshot({ path: join(artefacts, `workbench-${width}x${height}.png`) });
  }
  // Every road of the list in sight, no scroll box of its own.
  await page.click("#mode-network");
  assert.equal(await page.locator("#road-list li").count(), NETWORK.length);
  const [scrolled, shown] = await page.locator("#road-list").evaluate((node) => [node.scrollHeight, node.clientHeight]);
  assert.equal(scrolled, shown);
});

test("keeps the tray's words clear of the starts and goals in it, at both sizes", async () => {
  await open([...ROAD_STEPS, ["vehicles", { starts: [0, null, 2], goals: [null, 0, null] }]]);
  await page.click("#mode-mission");
  const overlap = (a, b) => a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
  for (const [width, height] of [[1400, 900], [1024, 768]]) {
    await page.setViewportSize({ width, height });
    const words = await page.locator("#canvas text.tray-caption").boundingBox();
    const badges = await page.locator("#canvas #badges g.badge").all();
    assert.equal(badges.length, 6);
    for (const badge of badges) {
      assert.ok(!overlap(words, await badge.boundingBox()), `${await badge.getAttribute("data-badge")} covers the tray's words`);
    }
    await page.screenshot({ path: join(artefacts, `tray-${width}x${height}.png`) });
  }
});
