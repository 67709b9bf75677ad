"""The headless program listens on its configured port and logs one visit line per request."""
import re
import sys

from vistelle_e2e import Program, free_port, send


def main():
    port = free_port()
    program = Program(settings={"ListenPort": str(port), "SoundAlert": "0", "PopupAlert": "0",
                                "usedyndns": "0"}).start()
    try:
        program.wait_line(f"Listening for connections on port: {port}")
        stamp = re.compile(r"^\[\d\d:\d\d:\d\d\] ")
        for i in range(3):
            reply = send(port, f"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/p{i}.html\r\n\r\n"
                         .encode())
            assert reply == b"", f"the program answered {reply!r}"
        lines = program.wait_for(lambda ls: sum("Visit: " in l for l in ls) >= 3, what="three visit lines")
        visits = [l for l in lines if "Visit: " in l]
        for i, line in enumerate(visits):
            assert stamp.match(line), line
            assert line.endswith(f"Visit: 127.0.0.1 -> http://site.example/p{i}.html"), line
        # Markup is plain text, also on the console.
        send(port, b"GET / HTTP/1.1\r\nReferer: <b>x</b>\r\n\r\n")
        program.wait_line("Visit: 127.0.0.1 -> <b>x</b>")
    finally:
        code = program.stop()
    print("\n".join(program.output()))
    assert code == 0, f"exit code {code}"
    return 0


if __name__ == "__main__":
    sys.exit(main())
