"""An https server on 127.0.0.1:443 (name localhost) whose answers are
redirects, for ruvo-flash's redirect rules:
  /served/<path>  the file ROOT/<path>
  /follow/<path>  302 to https://localhost/served/<path>  (stays on TLS)
  /plain/<path>   302 to http://127.0.0.1/<path>          (leaves TLS)
  /loop/<path>    302 to itself                           (never ends)
  redirect_server.py ROOT CERT KEY; prints READY once it listens."""
import http.server, os, ssl, sys

ROOT, CERT, KEY = sys.argv[1:4]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        kind, _, rest = self.path.lstrip("/").partition("/")
        targets = {"follow": "https://localhost/served/" + rest, "plain": "http://127.0.0.1/" + rest,
                   "loop": "https://localhost" + self.path}
        if kind in targets:
            self.send_response(302)
            self.send_header("Location", targets[kind])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        path = os.path.realpath(os.path.join(ROOT, rest))
        if kind != "served" or not path.startswith(os.path.realpath(ROOT) + "/") or not os.path.isfile(path):
            self.send_error(404)
            return
        body = open(path, "rb").read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
print("READY", flush=True)
server.serve_forever()
