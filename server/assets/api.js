// The server's JSON API. Every call carries the token of the address the page was opened with,
// in a header: the token stays in the page, never in a cookie that other local ports would get.

// Read from the address when the first call is made, so that the module also loads where there
// is no address (the page's unit tests).
let token;

export class ApiError extends Error {
  constructor(status, body) {
    super(body && body.error ? body.error : `request failed with status ${status}`);
    this.status = status;
    this.parameter = body ? body.parameter : "";
    this.allowed = body ? body.allowed : [];
  }
}

// The headers of an API call: the token, when the page was given one.
export function headers() {
  if (token === undefined) token = new URLSearchParams(location.search).get("token");
  return token ? {"X-Zel-Token": token} : {};
}

export async function get(path, parameters = new URLSearchParams(), signal = undefined) {
  const query = parameters.toString();
  const response = await fetch(query ? `${path}?${query}` : path, {headers: headers(), signal});
  const body = await response.json().catch(() => null);
  if (!response.ok) throw new ApiError(response.status, body);
  return body;
}
