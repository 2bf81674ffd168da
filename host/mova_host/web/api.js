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
  if (!response.ok) {
    const text = (await response.text()).trim();
    throw new Refusal(response.status, text || `The server answered ${response.status}.`);
  }
  return type.startsWith("application/json") ? response.json() : response.text();
}

export const api = {
  config: () => call("GET", "/api/config"),
  create: () => call("POST", "/api/sessions", {}),
  state: (id, since = 0) => call("GET", `/api/sessions/${encodeURIComponent(id)}?since=${since}`),
  act: (id, action, body = {}) => call("POST", `/api/sessions/${encodeURIComponent(id)}/${action}`, body),
  loadScenario: (id, text) => call("POST", `/api/sessions/${encodeURIComponent(id)}/scenario`, text),
  saveScenario: (id) => call("GET", `/api/sessions/${encodeURIComponent(id)}/scenario`),
  commands: (id) => call("GET", `/api/sessions/${encodeURIComponent(id)}/commands.txt`),
};
