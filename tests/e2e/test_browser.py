"""A real browser loading a watched page: the visit carries the page's address when the reference
has referrerpolicy="unsafe-url", and only the site's origin without it. Headless Chromium names
itself "HeadlessChrome": unless it passes for a desktop browser, it is a crawler."""
import functools
import http.server
import os
import shutil
import sys
import tempfile
import threading
import subprocess

from vistelle_e2e import Program, free_port

SKIP = 77


def serve(directory):
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=directory)
    handler.log_message = lambda *args: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


DESKTOP_AGENT = ("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 "
                 "Safari/537.36")


def load(browser, url, profile, agent=None):
    extra = [f"--user-agent={agent}"] if agent else []
    subprocess.run([browser, "--headless", *extra, "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + profile, "--virtual-time-budget=3000", "--dump-dom", url],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=False)


def main():
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        print("chromium is not installed: skipped")
        return SKIP
    port = free_port()
    site = tempfile.mkdtemp(prefix="vistelle-site-")
    for name, policy in (("watched.html", ' referrerpolicy="unsafe-url"'), ("plain.html", "")):
        with open(os.path.join(site, name), "w", encoding="utf-8") as f:
            f.write(f'<!DOCTYPE html><html><body><h1>{name}</h1><img src="http://127.0.0.1:{port}/t.gif"'
                    f'{policy} alt="" width="1" height="1" hidden></body></html>')
    server = serve(site)
    origin = f"http://127.0.0.1:{server.server_address[1]}"
    program = Program(settings={"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0"}).start()
    try:
        program.wait_line(f"Listening for connections on port: {port}")
        profile = tempfile.mkdtemp(prefix="vistelle-browser-")
        load(browser, origin + "/watched.html", profile, DESKTOP_AGENT)
        program.wait_line(f"Visit: 127.0.0.1 -> {origin}/watched.html", timeout=20)
        # Loopback has no country: the popup names the visitor by address.
        program.wait_line(f"Popup: Visitor: 127.0.0.1 | Visited page: {origin}/  watched.html")
        load(browser, origin + "/plain.html", profile)
        lines = program.wait_for(lambda ls: any(l.endswith(f"Crawler visit: 127.0.0.1 -> {origin}/") for l in ls),
                                 timeout=20, what="the headless browser's origin-only visit, as a crawler's")
        assert not any("plain.html" in l for l in lines), lines
        assert not any(l.startswith("Popup:") and l.endswith(f"{origin}/") for l in program.output()), lines
    finally:
        code = program.stop()
        server.shutdown()
    assert code == 0, f"exit code {code}"
    return 0


if __name__ == "__main__":
    sys.exit(main())
