// Talking to the workbench server: JSON in, JSON out; a refusal comes back as a sentence.

export class Refusal extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

async function call(method, url, body) {
  const options = { method, headers: {} };
  if (body !== undefined) {
    options.headers["Content-Type"] = "application/json";
    options.body = typeof body === "string" ? body : JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(url, options);
  } catch (error) {
    throw new Refusal(0, "The workbench server does not answer. Is `mova-host serve` still running?");
  }
  const type = response.headers.get("Content-Type") || "";
  try {
    if (!response.ok) {
      const text = (await response.text()).trim();
      throw new Refusal(response.status, text || `The server answered ${response.status}.`);
    }
    return type.startsWith("application/json") ? await response.json() : await response.text();
  } catch (error) {
    if (error instanceof Refusal) throw error;
    throw new Refusal(0, "The answer of the workbench server broke off. Is `mova-host serve` still running?");
  }
}

// The page's farewell, sent as the page goes away: the server ends the session a few seconds
// later unless a page takes it up again (a reload does). A beacon outlives the page.
function leave(id) {
  const body = new Blob(["{}"], { type: "application/json" });
  return navigator.sendBeacon(`/api/sessions/${encodeURIComponent(id)}/leave`, body);
}

export const api = {
  config: () => call("GET", "/api/config"),
  create: () => call("POST", "/api/sessions", {}),
  state: (id, since = 0) => call("GET", `/api/sessions/${encodeURIComponent(id)}?since=${since}`),
  act: (id, action, body = {}) => call("POST", `/api/sessions/${encodeURIComponent(id)}/${action}`, body),
  loadScenario: (id, text) => call("POST", `/api/sessions/${encodeURIComponent(id)}/scenario`, text),
  saveScenario: (id) => call("GET", `/api/sessions/${encodeURIComponent(id)}/scenario`),
  leave,
  commands: (id) => call("GET", `/api/sessions/${encodeURIComponent(id)}/commands.txt`),
};
