// Runs the workbench's browser tests when Chromium and playwright-core are installed.
// Exit status 77 means "skipped" (nothing to run them with); under CI (CI set) a missing tool
// is a failure instead, since CI installs both first.
import { spawnSync } from "node:child_process";
import { existsSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";
const missing = [];
if (!existsSync(chromium)) missing.push(`Chromium (${chromium}; apt-get install chromium)`);
try {
  createRequire(join(here, "package.json")).resolve("playwright-core");
} catch {
  missing.push(`playwright-core (npm ci in ${here})`);
}
if (missing.length) {
  const ci = Boolean(process.env.CI);
  console.log(`browser tests ${ci ? "cannot run" : "skipped"}: missing ${missing.join(" and ")}`);
  process.exit(ci ? 1 : 77);
}

const result = spawnSync(process.execPath, ["--test", "--test-concurrency=1", join(here, "workbench.test.mjs")], {
  stdio: "inherit",
  env: { ...process.env, CHROMIUM: chromium },
});
process.exit(result.status ?? 1);
