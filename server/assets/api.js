// The server's JSON API. The token travels in the cookie the server set when the page was opened.

export class ApiError extends Error {
  constructor(status, body) {
    super(body && body.error ? body.error : `request failed with status ${status}`);
    this.status = status;
    this.parameter = body ? body.parameter : "";
    this.allowed = body ? body.allowed : [];
  }
}

export async function get(path, parameters = new URLSearchParams(), signal = undefined) {
  const query = parameters.toString();
  const response = await fetch(query ? `${path}?${query}` : path,
                               {credentials: "same-origin", signal});
  const body = await response.json().catch(() => null);
  if (!response.ok) throw new ApiError(response.status, body);
  return body;
}
